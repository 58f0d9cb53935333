// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// pstoVarnel with jobs as real CUPS clients send them: every boolean with an explicit value, the
// standard job-password, options a user can get wrong, and the ways a job can fail or be stopped.
#include <gtest/gtest.h>

#include <chrono>
#include <sstream>

#include "ps_job.h"

using namespace ps_test;

namespace {

const char kPinOptions[] = "PinNum1=9 PinNum2=8 PinNum3=7 PinNum4=6";

std::string OwnerLine() { return "@PJL SET JOBOWNER=\"vn" + HostName() + "\"\n"; }

Job JclJob(const std::string& ppd, const std::string& options, const std::string& copies = "1") {
  Job job;
  job.ppd = ppd;
  job.options = options;
  job.copies = copies;
  job.input = Jcl() + Body() + kEndOfJob + "\n";
  return job;
}

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// The "PAGE: " lines of a filter's log, in order.
std::string PageLines(const std::string& log) {
  std::istringstream in(log);
  std::string line, pages;
  while (std::getline(in, line))
    if (line.rfind("PAGE: ", 0) == 0) pages += line + "\n";
  return pages;
}

}  // namespace

TEST(ClientOptions, ExplicitOffValuesAreOffOnBothRoads) {
  for (const char* off : {"False", "no", "OFF", "0"}) {
    std::string v = std::string("=") + off;
    JobResult generic = RunJob(JclJob(
        "generic.ppd", "LockedPinPrint" + v + " " + kPinOptions + " TimePrint" + v + " PrintTimeH=22 PrintTimeM=30"));
    EXPECT_EQ(generic.process.exit_status, 0) << off << generic.process.err;
    EXPECT_NE(generic.process.out.find("@PJL SET USERNAME=\"alice\"\n" + OwnerLine() + "@PJL SET TIMEPRINT=ON\n"
                                       "@PJL SET QTY=1\n"),
              std::string::npos)
        << off << generic.process.out;
    EXPECT_EQ(generic.process.out.find("JOBPASSWORD"), std::string::npos) << off;
    EXPECT_EQ(generic.process.out.find("PRINTDELAY"), std::string::npos) << off;

    JobResult qd3840 = RunJob(JclJob("qd3840.ppd", "Collate" + v + " LockedPinPrint" + v + " " + kPinOptions, "3"));
    EXPECT_EQ(qd3840.process.exit_status, 0) << off << qd3840.process.err;
    EXPECT_EQ(Count(qd3840.process.out, "%%Page: 1 1"), 1u) << off << ": uncollated, the printer makes the copies";
    EXPECT_EQ(qd3840.process.out.find("JOBPASSWORD"), std::string::npos) << off;
  }
}

TEST(ClientOptions, JobPasswordIsThePinOnBothRoads) {
  for (const char* ppd : {"generic.ppd", "qd3840.ppd"}) {
    JobResult r = RunJob(JclJob(ppd, "job-password=2468 noLockedPinPrint PinNum1=1"));
    EXPECT_EQ(r.process.exit_status, 0) << ppd << r.process.err;
    EXPECT_NE(r.process.out.find("@PJL SET PINJOBNAME=\"alice\"\n@PJL SET JOBPASSWORD=\"2468\"\n"), std::string::npos)
        << ppd << r.process.out;
    for (const char* bad : {"job-password=24x8", "job-password=246", "job-password=24680"}) {
      JobResult refused = RunJob(JclJob(ppd, bad));
      EXPECT_EQ(refused.process.exit_status, 1) << ppd << bad;
      EXPECT_NE(refused.process.err.find("ERROR: The PIN for secure printing must be four digits"), std::string::npos)
          << ppd << bad;
      EXPECT_TRUE(refused.process.out.empty()) << ppd << bad;
    }
  }
}

// The PIN goes to the printer and nowhere else: not in the argument log line, not in the log of
// the PPD defaults it may come from.
TEST(ClientOptions, NoPinInTheLog) {
  struct Case {
    const char* name;
    std::string ppd, options, pin;
    std::vector<std::string> secrets;  // texts that would give the PIN away
  } cases[] = {
      {"generic, digit options", "generic.ppd", std::string("LockedPinPrint=True ") + kPinOptions, "9876",
       {"PinNum1=9", "PinNum2=8", "PinNum3=7", "PinNum4=6"}},
      {"qd3840, digit options", "qd3840.ppd", std::string("LockedPinPrint ") + kPinOptions, "9876",
       {"PinNum1=9", "PinNum2=8", "PinNum3=7", "PinNum4=6"}},
      {"job-password", "generic.ppd", "job-password=2468 PinNum1=1", "2468", {"job-password=2468", "PinNum1=1"}},
      {"PPD defaults", "pin_default.ppd", "Duplex=None", "5678",
       {"defchoices :5", "defchoices :6", "defchoices :7", "defchoices :8"}},
  };
  for (const Case& c : cases) {
    JobResult r = RunJob(JclJob(c.ppd, c.options));
    ASSERT_EQ(r.process.exit_status, 0) << c.name << r.process.err;
    EXPECT_NE(r.process.out.find("@PJL SET JOBPASSWORD=\"" + c.pin + "\"\n"), std::string::npos) << c.name;
    EXPECT_NE(r.process.err.find("test argv[5] value is"), std::string::npos) << c.name;
    for (const std::string& secret : c.secrets)
      EXPECT_EQ(r.process.err.find(secret), std::string::npos) << c.name << ": " << secret << " in\n" << r.process.err;
    EXPECT_EQ(r.process.err.find("JOBPASSWORD"), std::string::npos) << c.name;
  }
}

TEST(ClientOptions, DelayedPrintingOutsideTheDayIsRefused) {
  for (const char* time : {"PrintTimeH=24 PrintTimeM=0", "PrintTimeH=12 PrintTimeM=60",
                           "PrintTimeH=4294967296 PrintTimeM=1", "PrintTimeH=-1 PrintTimeM=5"}) {
    JobResult r = RunJob(JclJob("generic.ppd", std::string("TimePrint=True ") + time));
    EXPECT_EQ(r.process.exit_status, 1) << time;
    EXPECT_NE(r.process.err.find("ERROR: The time for delayed printing must be"), std::string::npos) << time;
    EXPECT_TRUE(r.process.out.empty()) << time;
  }
  JobResult latest = RunJob(JclJob("generic.ppd", "TimePrint=True PrintTimeH=23 PrintTimeM=59"));
  EXPECT_EQ(latest.process.exit_status, 0) << latest.process.err;
  EXPECT_NE(latest.process.out.find("@PJL SET TIMEPRINT=ON\n@PJL SET PRINTDELAY=1439\n"), std::string::npos);
}

TEST(ClientJobs, FolderAsPrintFileIsRefused) {
  varnel_test::TempDir dir;
  for (const char* ppd : {"generic.ppd", "qd3840.ppd"}) {
    Job job = JclJob(ppd, "");
    job.file = dir.path();
    JobResult r = RunJob(job);
    EXPECT_EQ(r.process.exit_status, 1) << ppd;
    EXPECT_NE(r.process.err.find("ERROR: Unable to read the print file"), std::string::npos) << ppd << r.process.err;
    EXPECT_TRUE(r.process.out.empty()) << ppd;
  }
}

// A printer link that fails for good ends the job with an error, never with success.
TEST(ClientJobs, OutputThatCannotBeWrittenFailsTheJob) {
  std::string big_pages;
  for (int i = 1; i <= 4; ++i)
    big_pages += "%%Page: " + std::to_string(i) + " " + std::to_string(i) + "\n" + std::string(100000, 'p') + "\n";
  struct Case {
    const char* name;
    std::string wrapper;
  } cases[] = {
      {"disk full", "exec -a queue1 \"$0\" \"$@\" >/dev/full"},
      {"reader gone", "(exec -a queue1 \"$0\" \"$@\") | head -c 0; exit \"${PIPESTATUS[0]}\""},
  };
  for (const Case& c : cases) {
    for (std::string options : {"", "Collate"}) {
      for (const char* ppd : {"generic.ppd", "qd3840.ppd"}) {
        Job job = JclJob(ppd, options, "2");
        job.input = Jcl() + Body(big_pages) + kEndOfJob + "\n";
        job.wrapper = c.wrapper;
        JobResult r = RunJob(job);
        EXPECT_EQ(r.process.exit_status, 1) << c.name << ppd << options << r.process.err;
        EXPECT_NE(r.process.err.find("ERROR: Unable to send the print data to the printer"), std::string::npos)
            << c.name << ppd << options << r.process.err;
        EXPECT_TRUE(r.left_in_tmpdir.empty()) << c.name << ppd << options;
      }
    }
  }
}

// The spooled job holds the user's document: not even SIGKILL leaves it on disk.
TEST(ClientJobs, KilledWhileSpoolingLeavesNoFile) {
  Job job = JclJob("generic.ppd", "");
  job.input = Jcl() + Body(std::string(200000, 'x') + "\n") + kEndOfJob + "\n";
  SignalWhileSpooling(job, 9);
  JobResult r = RunJob(job);
  ASSERT_TRUE(r.process.signal_sent);
  EXPECT_EQ(r.process.term_signal, 9);
  EXPECT_TRUE(r.left_in_tmpdir.empty()) << r.left_in_tmpdir.front();
}

// A backend that never answers the device-ID request must not hold a cancelled job.
TEST(ClientJobs, CancelDuringTheDeviceIdRequestEndsTheJobAtOnce) {
  Job job = JclJob("generic.ppd", "");
  job.run.device_id = "";
  job.run.side_channel_silent = true;
  job.run.signal_when_stderr_has = "query1284info";
  job.run.signal_delay_ms = 300;
  job.run.timeout_ms = 30000;
  auto start = std::chrono::steady_clock::now();
  JobResult r = RunJob(job);
  auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  ASSERT_TRUE(r.process.signal_sent);
  EXPECT_FALSE(r.process.timed_out);
  EXPECT_LT(seconds, 10.0);
  EXPECT_EQ(r.process.exit_status, 0) << r.process.err;
  EXPECT_TRUE(r.process.out.empty());
  EXPECT_EQ(r.process.err.find("ERROR"), std::string::npos) << r.process.err;
}

// Every page that reaches the printer is reported to CUPS with the copies the printer makes of it.
TEST(ClientJobs, EveryPageSentIsReportedForAccounting) {
  const std::string two_pages = "%%Page: 1 1\nshowpage\n%%Page: 2 2\nshowpage\n";
  const std::string embedded =
      "%%Page: 1 1\n%%BeginDocument: logo.eps\n%%Page: 1 1\nshowpage\n%%EndDocument\nshowpage\n";
  struct Case {
    const char* name;
    std::string ppd, options, copies, pages, expected;
  } cases[] = {
      {"generic: the printer makes the copies", "generic.ppd", "", "3", two_pages, "PAGE: 1 3\nPAGE: 2 3\n"},
      {"qd3840 uncollated", "qd3840.ppd", "Collate=False", "2", two_pages, "PAGE: 1 2\nPAGE: 2 2\n"},
      {"qd3840 collated: every page sent", "qd3840.ppd", "Collate=True", "2", two_pages,
       "PAGE: 1 1\nPAGE: 2 1\nPAGE: 3 1\nPAGE: 4 1\n"},
      {"embedded document pages are not pages", "generic.ppd", "", "1", embedded, "PAGE: 1 1\n"},
      {"no page comments", "generic.ppd", "", "1", "showpage\n", ""},
      {"carriage returns and long lines", "generic.ppd", "", "1",
       "%%Page: 1 1\r" + std::string(100, 'l') + "%%Page: x\rshowpage\r\n%%Page: 2 2\r\nshowpage\n",
       "PAGE: 1 1\nPAGE: 2 1\n"},
  };
  for (const Case& c : cases) {
    Job job = JclJob(c.ppd, c.options, c.copies);
    job.input = Jcl() + Body(c.pages) + kEndOfJob + "\n";
    JobResult r = RunJob(job);
    EXPECT_EQ(r.process.exit_status, 0) << c.name << r.process.err;
    EXPECT_EQ(PageLines(r.process.err), c.expected) << c.name;
  }
}
