// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// The harness itself: the shims and the runner do to a program built like the filter what the
// fault tests rely on, so that a fault test that fails says something about the filter.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include "fault_harness.h"

namespace fault {
namespace {

ProcessResult Probe(const std::vector<std::string>& args, const Faults& faults, RunOptions run = RunOptions()) {
  return RunWithFaults(ProbePath(), args, run, faults);
}

Faults IoFault(const std::string& setting) {
  Faults f;
  f.preload = IoShim();
  f.env.push_back(setting);
  return f;
}

TEST(Harness, IoShimCutsStandardOutputAfterNBytesThenFailsWithEIO) {
  ProcessResult r = Probe({"write", "100000"}, IoFault("VARNEL_FAULT_STDOUT_EIO_AFTER=12345"));
  EXPECT_EQ(r.exit_status, 1) << r.err;
  EXPECT_EQ(r.out.size(), 12345u);
  EXPECT_TRUE(Has(r.err, "probe: wrote 12345 bytes, then: Input/output error")) << r.err;
  EXPECT_TRUE(Has(r.err, "DEBUG: fault shim: refused 1 writes to standard output, 0 writes to spool files")) << r.err;
  EXPECT_FALSE(SanitizerReport(r.err)) << r.err;
}

TEST(Harness, IoShimShortAndInterruptedWritesLoseNothing) {
  for (const char* setting : {"VARNEL_FAULT_STDOUT_SHORT=7", "VARNEL_FAULT_STDOUT_TRANSIENT=EINTR:3"}) {
    ProcessResult r = Probe({"write", "5000"}, IoFault(setting));
    EXPECT_EQ(r.exit_status, 0) << setting << "\n" << r.err;
    EXPECT_EQ(r.out, std::string(5000, 'x')) << setting;
  }
  // The probe does not retry EAGAIN: the shim's refusal shows.
  ProcessResult r = Probe({"write", "5000"}, IoFault("VARNEL_FAULT_STDOUT_TRANSIENT=EAGAIN:2"));
  EXPECT_TRUE(Has(r.err, "probe: wrote 1000 bytes, then: Resource temporarily unavailable")) << r.err;
}

TEST(Harness, IoShimFailsEachSpoolFileAfterNBytes) {
  varnel_test::TempDir dir;
  RunOptions run;
  run.env.push_back("TMPDIR=" + dir.path());
  ProcessResult r = Probe({"spool", "10000"}, IoFault("VARNEL_FAULT_SPOOL_EIO_AFTER=2500"), run);
  EXPECT_EQ(r.exit_status, 1) << r.err;
  EXPECT_TRUE(Has(r.err, "probe: wrote 2500 bytes, then: Input/output error")) << r.err;
  // Standard output is not a spool file.
  r = Probe({"write", "10000"}, IoFault("VARNEL_FAULT_SPOOL_EIO_AFTER=2500"), run);
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(r.out.size(), 10000u);
}

TEST(Harness, AllocShimRefusesTheWindowOfSizesOnly) {
  Faults f;
  f.preload = AllocShim();
  f.env.push_back("VARNEL_FAULT_ALLOC_FAIL=4000000-6000000");
  ProcessResult r = Probe({"alloc", "5000000"}, f);
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_TRUE(Has(r.err, "probe: malloc null, calloc null, posix_memalign failed")) << r.err;
  EXPECT_TRUE(Has(r.err, "DEBUG: fault shim: refused posix_memalign of 5000000 bytes")) << r.err;
  for (const char* size : {"3999999", "6000001"}) {
    r = Probe({"alloc", size}, f);
    EXPECT_TRUE(Has(r.err, "probe: malloc ok, calloc ok, posix_memalign ok")) << size << "\n" << r.err;
  }
  EXPECT_FALSE(SanitizerReport(r.err)) << r.err;
}

TEST(Harness, SanitizerOptionsReachTheProgram) {
  if (!FAULT_SANITIZED) GTEST_SKIP() << "the build has no sanitizer";
  Faults f;
  f.asanOptions = "allocator_may_return_null=1:max_allocation_size_mb=4";
  ProcessResult r = Probe({"alloc", "5000000"}, f);
  EXPECT_TRUE(Has(r.err, "probe: malloc null, calloc null, posix_memalign failed")) << r.err;
  r = Probe({"alloc", "3000000"}, f);
  EXPECT_TRUE(Has(r.err, "probe: malloc ok, calloc ok, posix_memalign ok")) << r.err;
}

TEST(Harness, RunnerDropsTheOutputPipeAfterNBytes) {
  RunOptions run;
  run.stdout_close_after = 3000;
  run.sigpipe_ignored = true;
  ProcessResult r = Probe({"write", "1000000"}, Faults(), run);
  EXPECT_EQ(r.out.size(), 3000u);
  EXPECT_TRUE(Has(r.err, "then: Broken pipe")) << r.err;
  // The probe wrote at most one pipe's worth beyond what was read.
  run.sigpipe_ignored = false;
  r = Probe({"write", "1000000"}, Faults(), run);
  EXPECT_EQ(r.term_signal, SIGPIPE);
}

TEST(Harness, RunnerGivesTheProgramAnOutputDescriptor) {
  int full = open("/dev/full", O_WRONLY);
  ASSERT_GE(full, 0);
  RunOptions run;
  run.stdout_fd = full;
  ProcessResult r = Probe({"write", "5000"}, Faults(), run);
  close(full);
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_TRUE(Has(r.err, "probe: wrote 0 bytes, then: No space left on device")) << r.err;
}

}  // namespace
}  // namespace fault
