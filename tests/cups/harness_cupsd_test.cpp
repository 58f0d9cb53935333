// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// The private scheduler itself: it comes up on its own loopback port, takes a queue with the
// capture backend, runs and cancels jobs, and is gone after its owner.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <cerrno>
#include <cups/ipp.h>
#include <string>

#include "private_cupsd.h"
#include "test_support.h"

namespace varnel_test {
namespace {

// A plain PostScript queue description, compiled at test time: the harness must not depend on
// the driver's own PPDs.
std::string MakeGenericPpd(const TempDir& dir) {
  WriteFile(dir.File("generic.drv"),
            "#include <font.defs>\n#include <media.defs>\n"
            "Manufacturer \"Test\"\nModelName \"Capture Printer\"\nPCFileName \"generic.ppd\"\n"
            "Version 1.0\nDriverType ps\nFont *\n*MediaSize Letter\n");
  ProcessResult compiled = RunProgram("/usr/bin/ppdc", {"-d", dir.path(), dir.File("generic.drv")});
  EXPECT_EQ(compiled.exit_status, 0) << compiled.err;
  return dir.File("generic.ppd");
}

std::string SomeBytes(size_t n) {
  std::string data;
  for (size_t i = 0; i < n; ++i) data.push_back(static_cast<char>('A' + i % 23));
  return data;
}

class PrivateCupsdTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(cupsd_.InstallBackend(CAPTURE_BACKEND, "capture"));
    ASSERT_TRUE(cupsd_.Start()) << cupsd_.ErrorLog();
    ASSERT_TRUE(cupsd_.AddQueue("q1", "capture:" + cupsd_.OutputDir(), MakeGenericPpd(scratch_)))
        << cupsd_.ErrorLog();
  }

  TempDir scratch_;
  PrivateCupsd cupsd_;
};

TEST_F(PrivateCupsdTest, AnswersOnItsOwnLoopbackPort) {
  EXPECT_EQ(cupsd_.server().rfind("127.0.0.1:", 0), 0u);
  EXPECT_NE(cupsd_.server(), "127.0.0.1:631");
  ProcessResult status = cupsd_.Client("lpstat", {"-r"});
  EXPECT_NE(status.out.find("scheduler is running"), std::string::npos) << status.out;
  ProcessResult queues = cupsd_.Client("lpstat", {"-v"});
  EXPECT_NE(queues.out.find("q1: capture:" + cupsd_.OutputDir()), std::string::npos) << queues.out;
}

TEST_F(PrivateCupsdTest, InstalledProgramsAreExecutableButNotWritableByOthers) {
  struct stat st;
  ASSERT_EQ(stat((cupsd_.root() + "/lib/backend/capture").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0755u);
  // The stock chain is there next to whatever a test installs.
  EXPECT_EQ(stat((cupsd_.root() + "/lib/filter/pdftopdf").c_str(), &st), 0);
  EXPECT_EQ(stat((cupsd_.root() + "/lib/filter/gstoraster").c_str(), &st), 0);
}

TEST_F(PrivateCupsdTest, RawJobReachesTheBackendUnchanged) {
  std::string data = SomeBytes(10000);
  WriteFile(scratch_.File("job.bin"), data);
  int job = cupsd_.Submit("q1", scratch_.File("job.bin"), {"-o", "raw"});
  ASSERT_GT(job, 0);
  ASSERT_TRUE(cupsd_.WaitUntilIdle("q1")) << cupsd_.ErrorLog();
  EXPECT_EQ(cupsd_.JobState(job), IPP_JSTATE_COMPLETED) << cupsd_.ErrorLog();
  EXPECT_EQ(ReadFile(cupsd_.OutputDir() + "/job-" + std::to_string(job) + ".prn"), data);
}

TEST_F(PrivateCupsdTest, CancelEndsAProcessingJob) {
  // 200 ms per 4 KiB block: the job takes several seconds unless it is cancelled.
  ASSERT_TRUE(cupsd_.AddQueue("slow", "capture:" + cupsd_.OutputDir() + "?delay-ms=200", scratch_.File("generic.ppd")));
  WriteFile(scratch_.File("long.bin"), SomeBytes(200000));
  int job = cupsd_.Submit("slow", scratch_.File("long.bin"), {"-o", "raw"});
  ASSERT_GT(job, 0);
  ASSERT_TRUE(cupsd_.WaitUntilProcessing(job)) << cupsd_.ErrorLog();
  EXPECT_TRUE(cupsd_.Cancel(job));
  ASSERT_TRUE(cupsd_.WaitUntilIdle("slow")) << cupsd_.ErrorLog();
  EXPECT_EQ(cupsd_.JobState(job), IPP_JSTATE_CANCELED);
}

TEST(PrivateCupsdLifetime, DaemonIsStoppedByItsOwner) {
  pid_t pid = 0;
  {
    PrivateCupsd cupsd;
    ASSERT_TRUE(cupsd.Start()) << cupsd.ErrorLog();
    pid = cupsd.pid();
    ASSERT_GT(pid, 0);
    EXPECT_EQ(kill(pid, 0), 0);
  }
  errno = 0;
  EXPECT_EQ(kill(pid, 0), -1);  // stopped and reaped, not a zombie
  EXPECT_EQ(errno, ESRCH);
}

// The jobs' user may not see into a private checkout, so LeakSanitizer's suppressions reach the
// filters as a readable copy in the scheduler's folder; the other options pass unchanged.
TEST(PrivateCupsdLifetime, FiltersGetAReadableCopyOfTheLeakSuppressions) {
  TempDir checkout;
  chmod(checkout.path().c_str(), 0700);
  WriteFile(checkout.File("lsan.supp"), "leak:some_library\n");
  const char* before = getenv("LSAN_OPTIONS");
  const std::string saved = before ? before : "";
  setenv("LSAN_OPTIONS", ("print_suppressions=0:suppressions=" + checkout.File("lsan.supp")).c_str(), 1);
  PrivateCupsd cupsd;
  bool started = cupsd.Start();
  if (before) {
    setenv("LSAN_OPTIONS", saved.c_str(), 1);
  } else {
    unsetenv("LSAN_OPTIONS");
  }
  ASSERT_TRUE(started) << cupsd.ErrorLog();
  const std::string copy = cupsd.root() + "/lsan.supp";
  EXPECT_EQ(ReadFile(copy), "leak:some_library\n");
  struct stat st;
  ASSERT_EQ(stat(copy.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
  std::string files = ReadFile(cupsd.root() + "/etc/cups-files.conf");
  EXPECT_NE(files.find("\nSetEnv LSAN_OPTIONS print_suppressions=0:suppressions=" + copy + "\n"), std::string::npos)
      << files;
}

}  // namespace
}  // namespace varnel_test
