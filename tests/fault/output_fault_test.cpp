// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// The printer output fails: standard output on /dev/full, on a read-only descriptor, on a pipe
// whose reader goes away after N bytes, on a descriptor whose writes fail with EIO after N bytes;
// and passing faults (short, interrupted and refused-for-now writes) that must lose nothing.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "fault_harness.h"

namespace fault {
namespace {

// A test's name: the printer's tag and the case's, for suites of (printer, case).
template <typename Param>
std::string PrinterAndCase(const testing::TestParamInfo<Param>& info) {
  return std::string(std::get<0>(info.param).tag) + "_" + std::get<1>(info.param).tag;
}

// Six pages of about 11 KB of image each, by default two collated copies: the second copy is a
// replay of the collate file, and a page is more than the pipe holds.
Job OutputJob(const Printer& printer, bool collated = true) {
  PageLook look;
  look.noiseRows = 100;
  look.copies = collated ? 2 : 1;
  Job job;
  job.printer = printer;
  job.copies = look.copies;
  job.options = collated ? "Collate=True" : "";
  job.raster = RasterBytes(MakePages(6, look));
  return job;
}
constexpr int kJobPages = 6;

// A fault-free run of the job, to compare with.
struct Reference {
  Outcome outcome;
  std::string error;  // why it cannot serve, or empty
};

Reference FaultFree(const Job& job) {
  Reference ref;
  ref.outcome = RunJob(job);
  const Outcome& o = ref.outcome;
  if (o.run.exit_status != 0 || !o.stream.Clean() || o.stream.pages.size() != 2 * kJobPages)
    ref.error = "the fault-free run of the job is not a clean job of 12 pages: " + Describe(o);
  return ref;
}

// Where the output is cut, found in the fault-free stream.
struct CutPoint {
  const char* name;
  size_t (*offset)(const vi::InspectResult& stream);
};

// The byte that has half of the page's image data (all its JBIG blocks) before it.
size_t MiddleOfImage(const vi::InspectResult& stream, size_t page) {
  const size_t from = stream.pages[page].offset;
  const size_t to = page + 1 < stream.pages.size() ? stream.pages[page + 1].offset : stream.streamBytes;
  size_t total = 0;
  for (const vi::Item& item : stream.items)
    if (item.offset > from && item.offset < to && item.kind == vi::ItemKind::JbigData) total += item.length;
  size_t before = 0;
  for (const vi::Item& item : stream.items) {
    if (item.offset <= from || item.offset >= to || item.kind != vi::ItemKind::JbigData) continue;
    if (before + item.length > total / 2) return item.offset + (total / 2 - before);
    before += item.length;
  }
  return from;
}

const CutPoint kCutPoints[] = {
    {"inside the document header", [](const vi::InspectResult& s) { return s.pages[0].offset / 2; }},
    {"inside the image of page 1", [](const vi::InspectResult& s) { return MiddleOfImage(s, 0); }},
    {"between pages 1 and 2", [](const vi::InspectResult& s) { return s.pages[1].offset; }},
    {"inside the image of page 2", [](const vi::InspectResult& s) { return MiddleOfImage(s, 1); }},
    {"inside the collate replay (copy 2, page 2)", [](const vi::InspectResult& s) { return MiddleOfImage(s, 7); }},
};

enum class Target { PipeSigpipeDefault, PipeSigpipeIgnored, Eio };

struct TargetCase {
  Target target;
  const char* tag;
  const char* reason;  // strerror of the fault
};

const TargetCase kTargets[] = {
    // CUPS starts its filters with the default action for SIGPIPE.
    {Target::PipeSigpipeDefault, "PipeClosed", "Broken pipe"},
    {Target::PipeSigpipeIgnored, "PipeClosedSigpipeIgnored", "Broken pipe"},
    {Target::Eio, "EIO", "Input/output error"},
};
void PrintTo(const TargetCase& c, std::ostream* os) { *os << c.tag; }

std::string PrintData(const std::string& reason) {
  return "ERROR: Unable to send the print data to the printer: " + reason;
}

// What every failed printer output must show: status 1, one error line, no ready line, no spool
// file, no sanitizer report.
void ExpectOutputFailure(Findings* f, const Outcome& o, const std::string& reason) {
  ExpectExit(f, o, 1);
  ExpectErrorLines(f, o, {PrintData(reason)});
  ExpectReady(f, o, false);
  ExpectNoLeftovers(f, o);
}

class OutputCut : public testing::TestWithParam<std::tuple<Printer, TargetCase>> {};

TEST_P(OutputCut, WhatReachedThePrinterIsAPrefixAndTheJobStops) {
  const Printer printer = std::get<0>(GetParam());
  const TargetCase target = std::get<1>(GetParam());
  const Job job = OutputJob(printer);
  const Reference ref = FaultFree(job);
  ASSERT_TRUE(ref.error.empty()) << ref.error;
  const vi::InspectResult& refStream = ref.outcome.stream;

  const size_t cuts = sizeof kCutPoints / sizeof kCutPoints[0];
  std::vector<size_t> offsets;
  for (const CutPoint& cut : kCutPoints) offsets.push_back(cut.offset(refStream));
  std::vector<Outcome> outcomes = RunParallel<Outcome>(cuts, [&](size_t i) {
    RunOptions run;
    Faults faults;
    if (target.target == Target::Eio) {
      faults.preload = IoShim();
      faults.env.push_back("VARNEL_FAULT_STDOUT_EIO_AFTER=" + std::to_string(offsets[i]));
    } else {
      run.stdout_close_after = offsets[i];
      run.sigpipe_ignored = target.target == Target::PipeSigpipeIgnored;
    }
    run.timeout_ms = 30000;
    return RunJob(job, run, faults);
  });

  for (size_t i = 0; i < cuts; ++i) {
    const Outcome& o = outcomes[i];
    Findings f;
    ExpectOutputFailure(&f, o, target.reason);
    std::string prefix = PrefixMismatch(o.run.out, ref.outcome.run.out, refStream);
    f.Expect(prefix.empty(), "what reached the printer " + prefix);
    // With EIO the printer took exactly N bytes; a pipe lets the filter write up to one pipe
    // buffer (4 KiB) more, which the reader never took.
    const bool pipe = target.target != Target::Eio;
    if (!pipe) {
      f.Expect(o.run.out.size() == offsets[i], "the printer got " + std::to_string(o.run.out.size()) + " bytes");
    }
    // The job stops computing pages: at most the page that was being sent, and the next one
    // whose header was already read, were started.
    const int pageSent = PageAt(refStream, offsets[i] + (pipe ? 4096 : 0)) + 1;  // 0: the document header
    if (pageSent < kJobPages) {
      size_t started = Count(o.run.err, "PAGE: ");
      f.Expect(started <= static_cast<size_t>(pageSent) + 1,
               "went on computing pages: " + std::to_string(started) + " of " + std::to_string(kJobPages) +
                   " started after the fault in page " + std::to_string(pageSent));
    }
    if (!pipe) {
      f.Expect(Has(o.run.err, "DEBUG: fault shim: refused ") && !Has(o.run.err, "DEBUG: fault shim: refused 0 writes"),
               "the fault was never met");
    }
    EXPECT_TRUE(f.empty()) << "output cut after " << offsets[i] << " bytes, " << kCutPoints[i].name << ":\n"
                           << f.Text() << "  (" << Describe(o) << ")";
  }
}

INSTANTIATE_TEST_SUITE_P(AllPlatforms, OutputCut,
                         testing::Combine(testing::Values(kPrinterC, kPrinterZ, kPrinterM),
                                          testing::ValuesIn(kTargets)),
                         PrinterAndCase<OutputCut::ParamType>);

// ---- Output that takes nothing at all ----

struct DeadOutput {
  const char* tag;
  const char* path;
  int flags;
  const char* reason;
};

const DeadOutput kDeadOutputs[] = {
    {"DevFull", "/dev/full", O_WRONLY, "No space left on device"},
    {"ReadOnlyDescriptor", "/dev/null", O_RDONLY, "Bad file descriptor"},
};
void PrintTo(const DeadOutput& c, std::ostream* os) { *os << c.tag; }

class OutputDead : public testing::TestWithParam<std::tuple<Printer, DeadOutput>> {};

TEST_P(OutputDead, FirstWriteEndsTheJob) {
  const Printer printer = std::get<0>(GetParam());
  const DeadOutput dead = std::get<1>(GetParam());
  // The collated job, and the same pages as one copy, where no replay can fail at the end.
  const Job jobs[] = {OutputJob(printer), OutputJob(printer, false)};
  std::vector<Outcome> outcomes = RunParallel<Outcome>(2, [&](size_t i) {
    int fd = open(dead.path, dead.flags);
    if (fd < 0) throw std::runtime_error(std::string(dead.path) + ": " + strerror(errno));
    RunOptions run;
    run.stdout_fd = fd;
    run.timeout_ms = 30000;
    Outcome o = RunJob(jobs[i], run);
    close(fd);
    return o;
  });
  for (size_t i = 0; i < 2; ++i) {
    const Outcome& o = outcomes[i];
    Findings f;
    ExpectOutputFailure(&f, o, dead.reason);
    // The first write is in the document header of page 1.
    f.Expect(Count(o.run.err, "PAGE: ") <= 2, "went on computing pages after the first write failed");
    EXPECT_TRUE(f.empty()) << (i == 0 ? "two collated copies" : "one copy") << ":\n"
                           << f.Text() << "  (" << Describe(o) << ")";
  }
}

INSTANTIATE_TEST_SUITE_P(AllPlatforms, OutputDead,
                         testing::Combine(testing::Values(kPrinterC, kPrinterZ, kPrinterM),
                                          testing::ValuesIn(kDeadOutputs)),
                         PrinterAndCase<OutputDead::ParamType>);

// ---- Passing faults ----

struct PassingFault {
  const char* tag;
  const char* setting;
};

const PassingFault kPassingFaults[] = {
    {"ShortWrites", "VARNEL_FAULT_STDOUT_SHORT=7"},
    {"EveryThirdWriteInterrupted", "VARNEL_FAULT_STDOUT_TRANSIENT=EINTR:3"},
    {"EveryThirdWriteWouldBlock", "VARNEL_FAULT_STDOUT_TRANSIENT=EAGAIN:3"},
};
void PrintTo(const PassingFault& c, std::ostream* os) { *os << c.tag; }

class OutputPassingFault : public testing::TestWithParam<std::tuple<Printer, PassingFault>> {};

TEST_P(OutputPassingFault, TheWholeStreamArrives) {
  const Printer printer = std::get<0>(GetParam());
  const PassingFault fault = std::get<1>(GetParam());
  const Job job = OutputJob(printer);
  const Reference ref = FaultFree(job);
  ASSERT_TRUE(ref.error.empty()) << ref.error;
  Faults faults;
  faults.preload = IoShim();
  faults.env.push_back(fault.setting);
  RunOptions run;
  run.timeout_ms = 30000;
  Outcome o = RunJob(job, run, faults);
  Findings f;
  ExpectExit(&f, o, 0);
  ExpectErrorLines(&f, o, {});
  ExpectReady(&f, o, true);
  ExpectNoLeftovers(&f, o);
  f.Expect(o.run.out.size() == ref.outcome.run.out.size(),
           "the printer got " + std::to_string(o.run.out.size()) + " bytes of " +
               std::to_string(ref.outcome.run.out.size()));
  std::string prefix = PrefixMismatch(o.run.out, ref.outcome.run.out, ref.outcome.stream);
  f.Expect(prefix.empty(), "the stream " + prefix);
  EXPECT_TRUE(f.empty()) << f.Text() << "  (" << Describe(o) << ")";
}

INSTANTIATE_TEST_SUITE_P(AllPlatforms, OutputPassingFault,
                         testing::Combine(testing::Values(kPrinterC, kPrinterZ, kPrinterM),
                                          testing::ValuesIn(kPassingFaults)),
                         PrinterAndCase<OutputPassingFault::ParamType>);

}  // namespace
}  // namespace fault
