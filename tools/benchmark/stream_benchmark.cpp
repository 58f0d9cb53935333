// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Per-page cost of halftoning and of JBIG compression + sending, on an A4 600 dpi page of
// text-like strokes and on a picture page (smooth gradients), per platform. Standard output is
// sent to /dev/null; peak memory (max RSS) is reported as a counter.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <vector>

#include "common.h"
#include "prnt.h"

namespace {

const unsigned kW = 4960, kH = 7016;  // A4 at 600 dpi, width a multiple of 32

std::vector<unsigned char> TextPage() {
  std::vector<unsigned char> g(static_cast<size_t>(kW) * kH, 255);
  for (unsigned y = 300; y + 300 < kH; ++y) {
    unsigned line = (y - 300) % 100;
    if (line >= 60) continue;  // line spacing
    for (unsigned x = 300; x + 300 < kW; ++x) {
      unsigned glyph = (x * 7 + y / 100 * 13) % 37;
      bool stroke = (glyph < 5 && line % 20 < 17) || (line % 20 < 4 && glyph < 20);
      if (stroke) g[static_cast<size_t>(y) * kW + x] = 0;
    }
  }
  return g;
}

std::vector<unsigned char> PicturePage() {
  std::vector<unsigned char> g(static_cast<size_t>(kW) * kH);
  for (unsigned y = 0; y < kH; ++y)
    for (unsigned x = 0; x < kW; ++x)
      g[static_cast<size_t>(y) * kW + x] =
          static_cast<unsigned char>(127.5 + 127.5 * std::sin(x / 300.0) * std::cos(y / 450.0));
  return g;
}

const std::vector<unsigned char>& Page(int kind) {
  static std::vector<unsigned char> text = TextPage();
  static std::vector<unsigned char> picture = PicturePage();
  return kind == 0 ? text : picture;
}

void ReportPeak(benchmark::State& state) {
  struct rusage u;
  getrusage(RUSAGE_SELF, &u);
  state.counters["peak_MB"] = u.ru_maxrss / 1024.0;
}

void BM_Halftone(benchmark::State& state) {
  const int platform = static_cast<int>(state.range(0));
  std::vector<unsigned char> grey = Page(static_cast<int>(state.range(1)));
  std::vector<unsigned char> mono(static_cast<size_t>(kW) * kH / 8);
  int saved = dup(2);
  int null = open("/dev/null", O_WRONLY);
  dup2(null, 2);  // the halftoner's debug line
  for (auto _ : state) {
    HalftoneDither(grey.data(), kW, kH, mono.data(), kW, 0, 0, platform);
    benchmark::DoNotOptimize(mono.data());
  }
  dup2(saved, 2);
  close(saved);
  close(null);
  ReportPeak(state);
}

void BM_SendPage(benchmark::State& state) {
  const int platform = static_cast<int>(state.range(0));
  std::vector<unsigned char> grey = Page(static_cast<int>(state.range(1)));
  std::vector<unsigned char> mono(static_cast<size_t>(kW) * kH / 8);
  int savedErr = dup(2);
  int null = open("/dev/null", O_WRONLY);
  dup2(null, 2);
  HalftoneDither(grey.data(), kW, kH, mono.data(), kW, 0, 0, platform);
  dup2(savedErr, 2);
  close(savedErr);
  fflush(stdout);
  int saved = dup(1);
  dup2(null, 1);
  for (auto _ : state) {
    GDI_SEND_PAGE_PARAM s{};
    s.compression = 0x20;
    s.whlImgW = kW;
    s.whlImgH = kH;
    if (platform == PLATFORM_C) { s.rasImgW = kW; s.rasImgH = 768; }
    s.sendImgBuf = reinterpret_cast<char*>(mono.data());
    Prnt_SendPage(&s, platform);
  }
  fflush(stdout);
  dup2(saved, 1);
  close(saved);
  close(null);
  ReportPeak(state);
}

void Args(benchmark::internal::Benchmark* b) {
  b->ArgNames({"platform", "picture"});
  for (int platform = 1; platform <= 3; ++platform)
    for (int kind = 0; kind <= 1; ++kind) b->Args({platform, kind});
  b->Unit(benchmark::kMillisecond);
}

}  // namespace

BENCHMARK(BM_Halftone)->Apply(Args);
BENCHMARK(BM_SendPage)->Apply(Args);
BENCHMARK_MAIN();
