// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// SIGTERM (a cancel): while the filter waits for a backend that never answers the device-ID
// request, while it is blocked reading a raster pipe that delivers no more, and at some hundreds
// of random points of multi-page jobs on C, Z and M (plain, collated copies, manual duplex). The
// filter must stop within about a second with status 0 and no error line, leave a well-formed
// stream (or none before the first page) and no spool file, send no replay after the cancel,
// and never say "Ready to print".
#include <atomic>
#include <iostream>
#include <random>
#include <sstream>

#include "fault_harness.h"

namespace fault {
namespace {

constexpr long long kPromptMs = 1500;      // "within about a second", with room for a loaded machine
constexpr int kKillAfterSignalMs = 2000;   // a filter that has not stopped by then has failed
constexpr unsigned kHeaderBytes = 1796;    // a page header in an uncompressed raster
constexpr const char kFirstHeaderRead[] = "DEBUG: cupsRasterReadHeader2 return OK.";

// What every cancelled run must show. readyOpen: the cancel came after the whole stream had
// been sent (in the pause of a manual-duplex job), where "Ready to print" may or may not follow.
void ExpectCancelled(Findings* f, const Outcome& o, bool readyOpen = false) {
  f->Expect(o.run.signal_sent, "the signal was never sent (the filter ended before)");
  ExpectExit(f, o, 0);
  if (o.run.signal_sent && !o.run.killed_after_signal && !o.run.timed_out)
    f->Expect(o.run.exit_after_signal_ms <= kPromptMs,
              "stopped " + std::to_string(o.run.exit_after_signal_ms) + " ms after the signal");
  ExpectErrorLines(f, o, {});
  if (!readyOpen) ExpectReady(f, o, false);
  ExpectNoLeftovers(f, o);
  ExpectWellFormed(f, o, true);
}

// Empty when the pages of `got` are those of `ref` in order, except that the last one may be a
// page cut by the cancel (completed with the lines it had).
std::string PagesArePrefix(const vi::InspectResult& got, const vi::InspectResult& ref) {
  if (got.pages.size() > ref.pages.size())
    return std::to_string(got.pages.size()) + " pages, more than the " + std::to_string(ref.pages.size()) +
           " of the whole job";
  for (size_t i = 0; i + 1 < got.pages.size(); ++i)
    if (!SamePicture(got.pages[i], ref.pages[i])) return "page " + std::to_string(i + 1) + " is not the job's page";
  return "";
}

// ---- A backend that never answers ----

TEST(CancelWhileWaiting, ForTheDeviceIdOfASilentBackend) {
  // A PPD with a ShortNickName: the filter asks the backend for the device ID before printing.
  const Printer printer{"nickname_rxt30441.ppd", "M"};
  Job job;
  job.printer = printer;
  job.raster = RasterBytes(MakePages(1, PageLook()));
  RunOptions run;
  run.device_id = std::string("MFG:R&X;MDL:RXT30441 series;CLS:PRINTER;DES:R&X RXT30441 series;");
  run.side_channel_silent = true;
  run.signal_after_ms = 800;
  run.kill_after_signal_ms = kKillAfterSignalMs;
  run.timeout_ms = 30000;
  Outcome o = RunJob(job, run);
  Findings f;
  f.Expect(!Has(o.run.err.substr(0, o.run.err_at_signal), "PAGE: "), "the filter did not wait for the backend");
  ExpectCancelled(&f, o);
  f.Expect(o.run.out.empty(), "sent " + std::to_string(o.run.out.size()) + " bytes before any page");
  EXPECT_TRUE(f.empty()) << f.Text() << "  (" << Describe(o) << ")";
}

// ---- A raster pipe that stalls ----

struct HoldPoint {
  const char* name;
  int page;          // 1-based page of the hold
  enum { InHeader, InData, AtEnd } where;
  size_t pagesSent;  // what the printer must get
};

constexpr unsigned kHoldLine = 700;  // full raster lines delivered of the page being read

const HoldPoint kHoldPoints[] = {
    {"inside the first page header", 1, HoldPoint::InHeader, 0},
    {"after 700 lines of page 1", 1, HoldPoint::InData, 1},
    {"after the whole page 1", 1, HoldPoint::AtEnd, 1},
    {"inside the header of page 2", 2, HoldPoint::InHeader, 1},
    {"after 700 lines of page 2", 2, HoldPoint::InData, 2},
};

std::vector<RasterPage> HoldPages() {
  PageLook look;
  look.noiseRows = 300;
  return MakePages(3, look);
}

class CancelWhileReading : public testing::TestWithParam<Printer> {};

TEST_P(CancelWhileReading, ARasterPipeThatDeliversNoMore) {
  const Printer printer = GetParam();
  const std::vector<RasterPage> pages = HoldPages();
  const std::vector<size_t> starts = PageStarts(pages);
  const size_t bytesPerLine = pages[0].header.cupsBytesPerLine;
  Job job;
  job.printer = printer;
  job.raster = RasterBytes(pages);
  const size_t n = sizeof kHoldPoints / sizeof kHoldPoints[0];
  std::vector<size_t> holds;
  for (const HoldPoint& h : kHoldPoints) {
    const size_t start = starts[static_cast<size_t>(h.page) - 1];
    if (h.where == HoldPoint::InHeader) holds.push_back(start + kHeaderBytes / 2);
    if (h.where == HoldPoint::InData) holds.push_back(start + kHeaderBytes + kHoldLine * bytesPerLine + 300);
    if (h.where == HoldPoint::AtEnd) holds.push_back(starts[static_cast<size_t>(h.page)]);
  }
  std::vector<Outcome> outcomes = RunParallel<Outcome>(n + 1, [&](size_t i) {
    RunOptions run;
    run.timeout_ms = 30000;
    if (i < n) {
      run.stdin_hold_at = holds[i];
      run.stdin_stall = true;
      run.signal_when_input_drained = true;
      run.signal_delay_ms = 200;  // the filter has taken what it got and waits for more
      run.kill_after_signal_ms = kKillAfterSignalMs;
    }
    return RunJob(job, run);
  });
  const Outcome& ref = outcomes[n];
  ASSERT_EQ(ref.run.exit_status, 0) << Describe(ref);
  ASSERT_EQ(ref.stream.pages.size(), 3u) << Describe(ref);

  for (size_t i = 0; i < n; ++i) {
    const HoldPoint& h = kHoldPoints[i];
    const Outcome& o = outcomes[i];
    Findings f;
    ExpectCancelled(&f, o);
    if (h.pagesSent == 0) f.Expect(o.run.out.empty(), "sent " + std::to_string(o.run.out.size()) + " bytes before any page");
    f.Expect(o.stream.pages.size() == h.pagesSent,
             std::to_string(o.stream.pages.size()) + " pages, not " + std::to_string(h.pagesSent));
    if (o.stream.pages.size() == h.pagesSent && h.pagesSent > 0) {
      std::string prefix = PagesArePrefix(o.stream, ref.stream);
      f.Expect(prefix.empty(), prefix);
      const vi::Page& last = o.stream.pages.back();
      const vi::Page& full = ref.stream.pages[h.pagesSent - 1];
      if (h.where == HoldPoint::InData) {
        // Completed with the lines read so far: the rows above the hold, white below.
        bool ok = last.decoded && last.plane.rows.size() == full.plane.rows.size();
        const size_t stride = full.plane.Stride();
        for (size_t y = 0; ok && y < full.plane.height; ++y)
          for (size_t x = 0; ok && x < stride; ++x)
            ok = last.plane.rows[y * stride + x] == (y < kHoldLine ? full.plane.rows[y * stride + x] : 0);
        f.Expect(ok, "the page being read is not its first 700 lines completed white");
      } else {
        f.Expect(SamePicture(last, full), "the last page is not the job's page");
      }
    }
    EXPECT_TRUE(f.empty()) << "raster held " << h.name << " (" << holds[i] << " bytes):\n"
                           << f.Text() << "  (" << Describe(o) << ")";
  }
}

INSTANTIATE_TEST_SUITE_P(AllPlatforms, CancelWhileReading, testing::Values(kPrinterC, kPrinterZ, kPrinterM),
                         [](const testing::TestParamInfo<Printer>& info) { return std::string(info.param.tag); });

// ---- SIGTERM at random points ----

struct SweepConfig {
  const char* tag;
  Printer printer;
  unsigned copies;
  const char* options;
  bool manualDuplex;
};

const SweepConfig kSweepConfigs[] = {
    {"C_Plain", kPrinterC, 1, "", false},
    {"Z_Plain", kPrinterZ, 1, "", false},
    {"M_Plain", kPrinterM, 1, "", false},
    {"C_Collated", kPrinterC, 2, "Collate=True", false},
    {"Z_Collated", kPrinterZ, 2, "Collate=True", false},
    {"M_Collated", kPrinterM, 2, "Collate=True", false},
    {"C_ManualDuplex", kPrinterC, 1, "ManualDuplex=True", true},
    {"Z_ManualDuplex", kPrinterZManualDuplex, 1, "Duplex=DuplexNoTumble", true},
    {"M_ManualDuplex", kPrinterM, 1, "ManualDuplex=True", true},
};
void PrintTo(const SweepConfig& c, std::ostream* os) { *os << c.tag; }

constexpr int kSweepPages = 3;
constexpr int kPointsPerConfig = 40;  // 360 cancels over the nine jobs
constexpr int kFailuresShown = 10;    // a job stops being swept after this many failed points

struct SweepPoint {
  bool byInput;      // else by time
  size_t holdAt;     // byInput: raster bytes available when the signal comes
  bool stall;        // byInput: the rest never comes (else it follows the signal)
  int delayMs;       // after the input was read, or after the first page header was read
};

std::string DescribePoint(const SweepPoint& p) {
  std::ostringstream text;
  if (p.byInput)
    text << "SIGTERM " << p.delayMs << " ms after the filter read the first " << p.holdAt << " raster bytes"
         << (p.stall ? " (no more follow)" : " (the rest follows)");
  else
    text << "SIGTERM " << p.delayMs << " ms after the first page header was read";
  return text.str();
}

struct PointResult {
  bool ran = false;
  std::string failure;  // empty: the point passed
};

class CancelSweep : public testing::TestWithParam<SweepConfig> {};

TEST_P(CancelSweep, RandomPointsOfTheJob) {
  const SweepConfig& c = GetParam();
  PageLook look;
  look.noiseRows = 50;
  look.copies = c.copies;
  const std::vector<RasterPage> pages = MakePages(kSweepPages, look);
  const std::vector<size_t> starts = PageStarts(pages);
  Job job;
  job.printer = c.printer;
  job.copies = c.copies;
  job.options = c.options;
  job.raster = RasterBytes(pages);

  RunOptions plain;
  plain.timeout_ms = 30000;
  const Outcome ref = RunJob(job, plain);
  ASSERT_EQ(ref.run.exit_status, 0) << Describe(ref);
  ASSERT_TRUE(ref.stream.Clean()) << Defects(ref.stream);
  const long long refOutputMs = ref.run.last_output_ms;

  // The points, drawn with a fixed seed so that a failure can be run again.
  std::mt19937 rng(20260417u + static_cast<unsigned>(&c - kSweepConfigs));
  std::vector<SweepPoint> points;
  for (int k = 0; k < kPointsPerConfig; ++k) {
    SweepPoint p;
    p.byInput = std::uniform_int_distribution<int>(0, 1)(rng) == 1;
    p.holdAt = std::uniform_int_distribution<size_t>(1, job.raster.size() - 1)(rng);
    p.stall = std::uniform_int_distribution<int>(0, 1)(rng) == 1;
    p.delayMs = p.byInput ? std::uniform_int_distribution<int>(0, 40)(rng)
                          : std::uniform_int_distribution<int>(0, static_cast<int>(refOutputMs) + 400)(rng);
    points.push_back(p);
  }

  std::atomic<int> failures{0};
  std::vector<PointResult> results = RunParallel<PointResult>(points.size(), [&](size_t i) {
    PointResult result;
    if (failures.load() >= kFailuresShown) return result;
    const SweepPoint& p = points[i];
    RunOptions run;
    run.timeout_ms = 30000;
    run.kill_after_signal_ms = kKillAfterSignalMs;
    if (p.byInput) {
      run.stdin_hold_at = p.holdAt;
      run.stdin_stall = p.stall;
      run.signal_when_input_drained = true;
    } else {
      run.signal_when_stderr_has = kFirstHeaderRead;
    }
    run.signal_delay_ms = p.delayMs;
    const Outcome o = RunJob(job, run);
    result.ran = true;

    Findings f;
    const bool completedBefore =
        !o.run.signal_sent || Has(o.run.err.substr(0, o.run.err_at_signal), "INFO: Ready to print.");
    if (completedBefore) {
      // The job was over before the cancel came: it is a whole job.
      ExpectExit(&f, o, 0);
      ExpectErrorLines(&f, o, {});
      ExpectNoLeftovers(&f, o);
      ExpectWellFormed(&f, o);
      std::string whole = PageMismatch(o.stream.pages, PagesOf(ref.stream));
      f.Expect(whole.empty(), "the job ended before the cancel but is not whole: " + whole);
    } else {
      // A cancel after the last byte of a whole job: the contract says both "no ready line after
      // a cancel" and "a job that reached the printer whole ends with it"; either is taken.
      const long long signalMs = o.run.elapsed_ms - o.run.exit_after_signal_ms;
      const bool afterWholeStream = o.stream.Clean() && PageMismatch(o.stream.pages, PagesOf(ref.stream)).empty() &&
                                    o.run.last_output_ms >= 0 && o.run.last_output_ms <= signalMs;
      ExpectCancelled(&f, o, afterWholeStream);
      std::string prefix = PagesArePrefix(o.stream, ref.stream);
      f.Expect(prefix.empty(), prefix);
      if (p.byInput) {
        // Pages whose header was read before the signal; nothing is started or replayed after it.
        size_t read = 0;
        for (int k = 0; k < kSweepPages; ++k)
          if (p.holdAt >= starts[static_cast<size_t>(k)] + kHeaderBytes) read = static_cast<size_t>(k) + 1;
        const size_t allowed = c.manualDuplex ? (read + 1) / 2 : read;
        f.Expect(o.stream.pages.size() <= allowed,
                 std::to_string(o.stream.pages.size()) + " pages after a cancel when " + std::to_string(read) +
                     " pages had been read: a page was started or replayed after the cancel");
      }
    }
    if (!f.empty()) {
      result.failure = DescribePoint(p) + ":\n" + f.Text() + "  (" + Describe(o) + ")";
      ++failures;
    }
    return result;
  });

  int ran = 0, failed = 0;
  std::string shown;
  for (const PointResult& r : results) {
    ran += r.ran ? 1 : 0;
    if (!r.failure.empty()) {
      ++failed;
      shown += r.failure + "\n";
    }
  }
  std::cout << "[ sweep ] " << c.tag << ": " << ran << " of " << points.size() << " points run, " << failed
            << " failed\n";
  EXPECT_EQ(failed, 0) << failed << " of " << ran << " cancel points failed"
                       << (ran < static_cast<int>(points.size()) ? " (the sweep stopped there)" : "") << ":\n"
                       << shown;
}

INSTANTIATE_TEST_SUITE_P(Jobs, CancelSweep, testing::ValuesIn(kSweepConfigs),
                         [](const testing::TestParamInfo<SweepConfig>& info) { return std::string(info.param.tag); });

}  // namespace
}  // namespace fault
