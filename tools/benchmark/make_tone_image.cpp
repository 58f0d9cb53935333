// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// make_tone_image: writes a continuous-tone grey picture as a binary PGM, for compare.sh when no
// photograph is at hand: smooth gradients over the whole range of grey with fine noise on top,
// the same bytes on every run (the noise comes from a fixed-seed generator).
// Usage: make_tone_image WIDTH HEIGHT OUT.pgm
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 4) {
    fputs("usage: make_tone_image WIDTH HEIGHT OUT.pgm\n", stderr);
    return 2;
  }
  const long w = strtol(argv[1], nullptr, 10), h = strtol(argv[2], nullptr, 10);
  if (w < 1 || h < 1 || w > 20000 || h > 20000) {
    fputs("make_tone_image: WIDTH and HEIGHT must be 1 to 20000\n", stderr);
    return 2;
  }
  FILE* out = fopen(argv[3], "wb");
  if (out == nullptr) {
    perror(argv[3]);
    return 1;
  }
  bool ok = fprintf(out, "P5\n%ld %ld\n255\n", w, h) > 0;
  std::vector<unsigned char> row(static_cast<size_t>(w));
  uint32_t state = 2463534242u;  // xorshift32
  const double cx = 0.62 * static_cast<double>(w), cy = 0.38 * static_cast<double>(h);
  const double radius = std::hypot(static_cast<double>(w), static_cast<double>(h));
  for (long y = 0; y < h && ok; ++y) {
    for (long x = 0; x < w; ++x) {
      const double u = static_cast<double>(x) / static_cast<double>(w), v = static_cast<double>(y) / static_cast<double>(h);
      const double r = std::hypot(static_cast<double>(x) - cx, static_cast<double>(y) - cy) / radius;
      // Waves and rings (0..1), over a ramp from white at the top to black at the bottom.
      const double waves = 0.5 + 0.3 * std::sin(6.0 * u + 2.0 * v) * std::cos(4.0 * v) + 0.2 * std::cos(9.0 * r);
      const double grey = 0.6 * waves + 0.4 * (1.0 - v);
      state ^= state << 13;
      state ^= state >> 17;
      state ^= state << 5;
      const double noise = (static_cast<double>(state & 0xFF) - 127.5) / 127.5 * 0.06;
      const double level = std::fmin(1.0, std::fmax(0.0, grey + noise));
      row[static_cast<size_t>(x)] = static_cast<unsigned char>(std::lround(255.0 * level));
    }
    ok = fwrite(row.data(), 1, row.size(), out) == row.size();
  }
  if (fclose(out) != 0) ok = false;
  if (!ok) {
    fprintf(stderr, "make_tone_image: cannot write %s\n", argv[3]);
    return 1;
  }
  return 0;
}
