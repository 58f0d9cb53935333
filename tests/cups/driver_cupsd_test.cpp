// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// The driver inside a real scheduler: a private cupsd with the driver's filters, queues made
// from the generated PPDs, and the capture backend standing in for the printer (it answers the
// device-ID request as the queue's printer would).
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cups/ipp.h>
#include <sstream>
#include <string>
#include <thread>

#include "cups_support.h"
#include "private_cupsd.h"
#include "test_support.h"

namespace varnel_test {
namespace {

const char kZDeviceId[] =
    "MFG:VOLTRAN ISKELA;CMD:GDI;MDL:quilon 7306MF series;CLS:PRINTER;DES:VOLTRAN ISKELA quilon 7306MF series;";
const char kPostScriptDeviceId[] = "MFG:RX;MDL:RXT415K2 series;CMD:PJL,POSTSCRIPT;CLS:PRINTER;";
const char kForeignDeviceId[] = "MFG:Other;MDL:Other 1000 series;CLS:PRINTER;DES:Other 1000 series;";

struct Inspection {
  int exit_status = -1;
  std::string summary;
};

Inspection Inspect(const std::string& stream) {
  ProcessResult run = RunProgram(BuildPath("tools/varnel-inspect/varnel-inspect"), {"--summary", stream});
  return {run.exit_status, run.out + run.err};
}

// A job that a filter refused ends aborted or stopped, never completed.
bool Refused(int state) { return state == IPP_JSTATE_ABORTED || state == IPP_JSTATE_STOPPED; }

// The scheduler's log lines of one job (filter messages appear there without their level prefix).
std::string JobLog(const std::string& log, int job) {
  std::string tag = "[Job " + std::to_string(job) + "] ";
  std::istringstream in(log);
  std::string line, lines;
  while (std::getline(in, line))
    if (line.find(tag) != std::string::npos) lines += line + "\n";
  return lines;
}

class DriverCupsdTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(cupsd_.InstallFilter(BuildPath("gdi_filter/rastertoVarnel")));
    ASSERT_TRUE(cupsd_.InstallFilter(BuildPath("ps_filter/pstoVarnel")));
    ASSERT_TRUE(cupsd_.InstallBackend(CAPTURE_BACKEND, "capture"));
    ASSERT_TRUE(cupsd_.Start()) << cupsd_.ErrorLog();
    document_ = MakeTestPdf(scratch_, 3);
    ASSERT_FALSE(document_.empty());
  }

  // A queue whose printer answers with the given device ID; returns its output folder.
  std::string AddQueue(const std::string& name, const std::string& ppd, const std::string& device_id,
                       const std::string& uri_query = "") {
    std::string folder = cupsd_.NewOutputDir(name);
    WriteFile(folder + "/device-id", device_id);
    EXPECT_TRUE(cupsd_.AddQueue(name, "capture:" + folder + uri_query, PpdPath(ppd))) << cupsd_.ErrorLog();
    return folder;
  }

  static std::string Stream(const std::string& folder, int job) {
    return folder + "/job-" + std::to_string(job) + ".prn";
  }

  TempDir scratch_;
  PrivateCupsd cupsd_;
  std::string document_;
};

TEST_F(DriverCupsdTest, SupportedPrinterPrintsWithTheOptionsOfLp) {
  std::string out = AddQueue("z", "q7306mf.ppd", kZDeviceId);
  int job = cupsd_.Submit("z", document_, {"-n", "2", "-o", "Collate=False", "-o", "Density=4"});
  ASSERT_GT(job, 0);
  ASSERT_TRUE(cupsd_.WaitUntilIdle("z")) << cupsd_.ErrorLog();
  std::string log = JobLog(cupsd_.ErrorLog(), job);
  ASSERT_EQ(cupsd_.JobState(job), IPP_JSTATE_COMPLETED) << log;
  EXPECT_NE(log.find("] Sup dev."), std::string::npos) << log;

  Inspection inspected = Inspect(Stream(out, job));
  EXPECT_EQ(inspected.exit_status, 0) << inspected.summary;
  EXPECT_NE(inspected.summary.find("stream platform=Z"), std::string::npos) << inspected.summary;
  EXPECT_NE(inspected.summary.find(" pages=3"), std::string::npos) << inspected.summary;
  EXPECT_NE(inspected.summary.find(" density=4 "), std::string::npos) << inspected.summary;
  EXPECT_NE(inspected.summary.find(" copies=2 "), std::string::npos) << inspected.summary;
  EXPECT_NE(inspected.summary.find("result clean"), std::string::npos) << inspected.summary;
}

TEST_F(DriverCupsdTest, RasterFilterRefusesAPrinterItDoesNotSupport) {
  std::string out = AddQueue("foreign", "q7306mf.ppd", kForeignDeviceId);
  int job = cupsd_.Submit("foreign", document_);
  ASSERT_GT(job, 0);
  ASSERT_TRUE(cupsd_.WaitUntilIdle("foreign")) << JobLog(cupsd_.ErrorLog(), job);
  std::string log = JobLog(cupsd_.ErrorLog(), job);
  EXPECT_TRUE(Refused(cupsd_.JobState(job))) << log;
  EXPECT_NE(log.find("] Not sup dev."), std::string::npos) << log;
  EXPECT_NE(log.find("No pages found!"), std::string::npos) << log;
  EXPECT_EQ(Inspect(Stream(out, job)).summary.find("page platform"), std::string::npos);
}

TEST_F(DriverCupsdTest, PostScriptFilterRefusesAPrinterItDoesNotSupport) {
  std::string out = AddQueue("psforeign", "rxt415k2.ppd", kForeignDeviceId);
  int job = cupsd_.Submit("psforeign", document_);
  ASSERT_GT(job, 0);
  ASSERT_TRUE(cupsd_.WaitUntilIdle("psforeign")) << cupsd_.ErrorLog();
  std::string log = JobLog(cupsd_.ErrorLog(), job);
  EXPECT_TRUE(Refused(cupsd_.JobState(job))) << log;
  EXPECT_NE(log.find("The current printer is not available,please use the correct printer."), std::string::npos)
      << log;
  EXPECT_EQ(ReadFile(Stream(out, job)).find("@PJL"), std::string::npos);
}

TEST_F(DriverCupsdTest, PostScriptPrinterGetsTheUserOfTheJob) {
  std::string out = AddQueue("ps", "rxt415k2.ppd", kPostScriptDeviceId);
  int job = cupsd_.Submit("ps", document_, {"-U", "bob", "-o", "Duplex=DuplexTumble"});
  ASSERT_GT(job, 0);
  ASSERT_TRUE(cupsd_.WaitUntilIdle("ps")) << cupsd_.ErrorLog();
  ASSERT_EQ(cupsd_.JobState(job), IPP_JSTATE_COMPLETED) << JobLog(cupsd_.ErrorLog(), job);
  std::string stream = ReadFile(Stream(out, job));
  EXPECT_NE(stream.find("@PJL SET USERNAME=\"bob\"\n"), std::string::npos) << stream.substr(0, 600);
  EXPECT_NE(stream.find("@PJL SET DUPLEX=ENABLE\n@PJL SET BINDING=SHORTEDGE\n"), std::string::npos)
      << stream.substr(0, 600);
}

// A long job cancelled while its filters run: the printer still gets a stream that ends
// properly (the backend, like the real ones, keeps copying what the filters finish).
TEST_F(DriverCupsdTest, CancelDuringALongRasterJobLeavesAWellFormedStream) {
  std::string out = AddQueue("long", "q7306mf.ppd", kZDeviceId, "?delay-ms=20");
  std::string long_document = MakeTestPdf(scratch_, 40);
  ASSERT_FALSE(long_document.empty());
  int job = cupsd_.Submit("long", long_document);
  ASSERT_GT(job, 0);
  ASSERT_TRUE(cupsd_.WaitUntilProcessing(job)) << cupsd_.ErrorLog();
  // Wait until the filter is inside the job (its second page), then cancel.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  while (JobLog(cupsd_.ErrorLog(), job).find("PAGE: 2 ") == std::string::npos &&
         std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_NE(JobLog(cupsd_.ErrorLog(), job).find("PAGE: 2 "), std::string::npos) << JobLog(cupsd_.ErrorLog(), job);
  EXPECT_TRUE(cupsd_.Cancel(job));
  ASSERT_TRUE(cupsd_.WaitUntilIdle("long", 120000)) << cupsd_.ErrorLog();
  EXPECT_EQ(cupsd_.JobState(job), IPP_JSTATE_CANCELED);
  // The job counts as cancelled at once; the backend finishes copying what the filters wrote.
  deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (access(Stream(out, job).c_str(), F_OK) != 0 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));

  Inspection inspected = Inspect(Stream(out, job));
  EXPECT_EQ(inspected.exit_status, 0) << inspected.summary << JobLog(cupsd_.ErrorLog(), job);
  EXPECT_NE(inspected.summary.find("result clean"), std::string::npos) << inspected.summary;
  EXPECT_EQ(inspected.summary.find(" pages=40"), std::string::npos) << "the cancel came too late to test anything";
}

}  // namespace
}  // namespace varnel_test
