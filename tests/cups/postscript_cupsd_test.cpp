// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// PostScript queues inside a real scheduler, with options given the way print dialogs send them
// (every boolean with an explicit value) and the standard job-password: the PJL that reaches the
// printer, CUPS' page log, and the job's log lines.
#include <gtest/gtest.h>

#include <cups/ipp.h>
#include <sstream>
#include <string>
#include <vector>

#include "cups_support.h"
#include "private_cupsd.h"
#include "test_support.h"

namespace varnel_test {
namespace {

const char kGenericDeviceId[] = "MFG:RX;MDL:RXT415K2 series;CMD:PJL,POSTSCRIPT;CLS:PRINTER;";
const char kQd3840DeviceId[] = "MFG:PRUL;MDL:PRLM8400ADN series;CMD:PJL,POSTSCRIPT;CLS:PRINTER;";

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

std::vector<std::string> Lines(const std::string& text, const std::string& tag) {
  std::istringstream in(text);
  std::string line;
  std::vector<std::string> lines;
  while (std::getline(in, line))
    if (line.find(tag) != std::string::npos) lines.push_back(line);
  return lines;
}

class PostScriptCupsdTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(cupsd_.InstallFilter(BuildPath("ps_filter/pstoVarnel")));
    ASSERT_TRUE(cupsd_.InstallBackend(CAPTURE_BACKEND, "capture"));
    ASSERT_TRUE(cupsd_.Start()) << cupsd_.ErrorLog();
    document_ = MakeTestPdf(scratch_, 3);
    ASSERT_FALSE(document_.empty());
    generic_ = AddQueue("generic", "rxt415k2.ppd", kGenericDeviceId);
    qd3840_ = AddQueue("qd3840", "prlm8400.ppd", kQd3840DeviceId);
  }

  std::string AddQueue(const std::string& name, const std::string& ppd, const std::string& device_id) {
    std::string folder = cupsd_.NewOutputDir(name);
    WriteFile(folder + "/device-id", device_id);
    EXPECT_TRUE(cupsd_.AddQueue(name, "capture:" + folder, PpdPath(ppd))) << cupsd_.ErrorLog();
    return folder;
  }

  // Prints the document and returns the stream the printer got (empty when the job failed).
  std::string Print(const std::string& queue, const std::string& folder, const std::vector<std::string>& args,
                    int* job_out = nullptr) {
    int job = cupsd_.Submit(queue, document_, args);
    if (job_out != nullptr) *job_out = job;
    EXPECT_GT(job, 0);
    EXPECT_TRUE(cupsd_.WaitUntilIdle(queue)) << cupsd_.ErrorLog();
    EXPECT_EQ(cupsd_.JobState(job), IPP_JSTATE_COMPLETED) << JobLog(job);
    return ReadFile(folder + "/job-" + std::to_string(job) + ".prn");
  }

  std::string JobLog(int job) const {
    std::string lines;
    for (const auto& line : Lines(cupsd_.ErrorLog(), "[Job " + std::to_string(job) + "] ")) lines += line + "\n";
    return lines;
  }

  // The "total" line of a job in CUPS' page log: "QUEUE USER JOB [DATE] total N ...".
  int PageLogTotal(const std::string& queue, int job) const {
    std::string prefix = queue + " ";
    for (const auto& line : Lines(ReadFile(cupsd_.root() + "/log/page_log"), " total ")) {
      std::istringstream words(line);
      std::string name, user, date, total;
      int id = 0, pages = -1;
      words >> name >> user >> id >> date >> date >> total >> pages;
      if (name == queue && id == job && total == "total") return pages;
    }
    return -1;
  }

  TempDir scratch_;
  PrivateCupsd cupsd_;
  std::string document_, generic_, qd3840_;
};

// Dialogs send every boolean: switched off, as "False" (which lp turns into "noKEY") or as the
// choice text "Off". Neither holds the job at the printer, delays it or collates it.
TEST_F(PostScriptCupsdTest, SwitchesSentAsOffStayOff) {
  for (const char* off : {"False", "Off"}) {
    std::string v = std::string("=") + off;
    std::vector<std::string> args = {"-n", "2", "-o", "LockedPinPrint" + v, "-o", "TimePrint" + v,
                                     "-o", "Collate" + v, "-o", "PinNum1=9", "-o", "PinNum2=8",
                                     "-o", "PinNum3=7", "-o", "PinNum4=6", "-o", "PrintTimeH=22",
                                     "-o", "PrintTimeM=30", "-o", "Duplex=None"};
    int job = 0;
    std::string stream = Print("generic", generic_, args, &job);
    if (std::string(off) == "Off") {  // the explicit value reached the filter as it was sent
      EXPECT_NE(JobLog(job).find("LockedPinPrint=Off"), std::string::npos) << JobLog(job);
    }
    EXPECT_NE(stream.find("@PJL SET USERNAME="), std::string::npos) << stream.substr(0, 600);
    EXPECT_EQ(stream.find("JOBPASSWORD"), std::string::npos) << off << stream.substr(0, 600);
    EXPECT_EQ(stream.find("PRINTDELAY"), std::string::npos) << off << stream.substr(0, 600);
    EXPECT_NE(stream.find("@PJL SET COPIES=2\n"), std::string::npos) << off;

    stream = Print("qd3840", qd3840_, args);
    EXPECT_EQ(Count(stream, "%%Page: 3 3"), 1u) << off << ": not collated, the document goes once";
    EXPECT_EQ(stream.find("JOBPASSWORD"), std::string::npos) << off;
  }
}

// Secure printing through the standard job-password attribute and through the PIN options: the
// PIN reaches the printer and no log line of the driver.
TEST_F(PostScriptCupsdTest, PinReachesThePrinterButNoLogLine) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    std::string pin;
    std::vector<std::string> secrets;
  } cases[] = {
      {"job-password", {"-o", "job-password=2468", "-o", "LockedPinPrint=False"}, "2468", {"job-password=2468"}},
      {"PIN options",
       {"-o", "LockedPinPrint=True", "-o", "PinNum1=9", "-o", "PinNum2=8", "-o", "PinNum3=7", "-o", "PinNum4=6"},
       "9876",
       {"PinNum1=9", "PinNum2=8", "PinNum3=7", "PinNum4=6"}},
  };
  for (const Case& c : cases) {
    for (const auto& queue : {std::make_pair("generic", generic_), std::make_pair("qd3840", qd3840_)}) {
      int job = 0;
      std::string stream = Print(queue.first, queue.second, c.args, &job);
      EXPECT_NE(stream.find("@PJL SET JOBPASSWORD=\"" + c.pin + "\"\n"), std::string::npos)
          << c.name << " " << queue.first << stream.substr(0, 600);
      std::string log = JobLog(job);
      ASSERT_NE(log.find("test argv[5] value is"), std::string::npos) << log;
      for (const auto& line : Lines(log, "")) {
        // The scheduler itself logs the options it starts the filters with (debug level).
        if (line.find("argv[5]=\"") != std::string::npos || line.find("Running command line for") != std::string::npos)
          continue;
        for (const auto& secret : c.secrets) EXPECT_EQ(line.find(secret), std::string::npos) << c.name << ": " << line;
        EXPECT_EQ(line.find("JOBPASSWORD"), std::string::npos) << line;
      }
    }
  }
}

// CUPS' page log counts every page the printer prints: the pages times the copies the printer
// makes (generic), or every page of every collated copy (QD3840).
TEST_F(PostScriptCupsdTest, PageLogCountsThePages) {
  struct Case {
    const char* queue;
    std::vector<std::string> args;
    int total;
  } cases[] = {
      {"generic", {"-o", "Collate=False"}, 3},
      {"generic", {"-n", "2", "-o", "Collate=False"}, 6},
      {"qd3840", {"-n", "2", "-o", "Collate=True"}, 6},
      {"qd3840", {"-n", "2", "-o", "Collate=False"}, 6},
  };
  for (const Case& c : cases) {
    int job = 0;
    std::string stream = Print(c.queue, std::string(c.queue) == "generic" ? generic_ : qd3840_, c.args, &job);
    EXPECT_FALSE(stream.empty());
    EXPECT_EQ(PageLogTotal(c.queue, job), c.total)
        << c.queue << " job " << job << "\n" << ReadFile(cupsd_.root() + "/log/page_log") << JobLog(job);
  }
}

}  // namespace
}  // namespace varnel_test
