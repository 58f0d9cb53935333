// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// pstoVarnel on a generic (non-QD3840) model: the JCL completed at its anchors, byte for byte.
#include <gtest/gtest.h>

#include "ps_job.h"

using namespace ps_test;

namespace {

std::string Owner() { return "@PJL SET JOBOWNER=\"vn" + HostName() + "\"\n"; }

std::string HeaderStart() { return kUel + "@PJL\n@PJL JOB NAME = \"Report\" DISPLAY = \"1 alice Report\"\n"; }

}  // namespace

TEST(GenericRoad, CompletesTheJclAtItsFourAnchors) {
  struct Case {
    const char* name;
    std::string copies, options, after_timeprint, duplex;
  } cases[] = {
      {"long edge", "3", "Duplex=DuplexNoTumble", "", "@PJL SET DUPLEX=ENABLE\n@PJL SET BINDING=LONGEDGE\n"},
      {"short edge", "2", "Duplex=DuplexTumble", "", "@PJL SET DUPLEX=ENABLE\n@PJL SET BINDING=SHORTEDGE\n"},
      {"simplex", "1", "Duplex=None", "", "@PJL SET DUPLEX=DISABLE\n"},
      {"no duplex option", "1", "", "", ""},
      {"delayed 22:30", "1", "TimePrint PrintTimeH=22 PrintTimeM=30", "@PJL SET PRINTDELAY=1350\n", ""},
      {"copies not a number", "x9", "", "", ""},
      {"copies zero", "0", "", "", ""},
  };
  for (const Case& c : cases) {
    Job job;
    job.copies = c.copies;
    job.options = c.options;
    job.input = Jcl() + Body() + kEndOfJob + "\n";
    JobResult r = RunJob(job);
    std::string copies = (c.copies == "3" || c.copies == "2") ? c.copies : "1";
    std::string expected = HeaderStart() + "@PJL SET USERNAME=\"alice\"\n" + Owner() + "@PJL SET TIMEPRINT=ON\n" +
                           c.after_timeprint + "@PJL SET QTY=1\n@PJL SET COPIES=" + copies +
                           "\n@PJL SET BITSPERPIXEL=1\n" + c.duplex + "@PJL ENTER LANGUAGE=POSTSCRIPT\n" + Body() +
                           kEndOfJob + "\n";
    EXPECT_EQ(r.process.exit_status, 0) << c.name << r.process.err;
    EXPECT_EQ(r.process.out, expected) << c.name;
    EXPECT_TRUE(r.left_in_tmpdir.empty()) << c.name;
  }
}

TEST(GenericRoad, PinPrintReplacesTheOwnerLineWithThePinLines) {
  Job job;
  job.user = "bob";
  job.options = "LockedPinPrint PinNum1=1 PinNum2=2 PinNum3=3";  // PinNum4 from the PPD: 8
  job.input = Jcl("bob") + Body() + kEndOfJob + "\n";
  JobResult r = RunJob(job);
  EXPECT_EQ(r.process.exit_status, 0) << r.process.err;
  std::string pin_lines = "@PJL SET USERNAME=\"bob\"\n@PJL SET JOBOWNER=\"vn" + HostName() +
                          "\"\n@PJL SET PINJOBNAME=\"bob\"\n@PJL SET JOBPASSWORD=\"1238\"\n@PJL SET TIMEPRINT=ON\n";
  EXPECT_NE(r.process.out.find(pin_lines), std::string::npos) << r.process.out;
}

TEST(GenericRoad, InjectionAttemptsStayInsideTheirValues) {
  Job job;
  job.user = "x\"\n@PJL SET EVIL=1\r\x01";
  job.copies = "2\n@PJL SET EVIL=2";
  job.input = Jcl() + Body() + kEndOfJob + "\n";
  JobResult r = RunJob(job);
  EXPECT_EQ(r.process.exit_status, 0) << r.process.err;
  EXPECT_NE(r.process.out.find("@PJL SET USERNAME=\"x@PJL SET EVIL=1\"\n"), std::string::npos) << r.process.out;
  EXPECT_NE(r.process.out.find("@PJL SET COPIES=2\n@PJL SET BITSPERPIXEL=1\n"), std::string::npos);
  EXPECT_EQ(r.process.out.find("\n@PJL SET EVIL"), std::string::npos);
}

TEST(GenericRoad, NonDigitPinRefusesTheJob) {
  for (std::string options : {"LockedPinPrint PinNum1=1 PinNum2=\" PinNum3=3 PinNum4=4",
                              "LockedPinPrint PinNum1=a PinNum2=2 PinNum3=3 PinNum4=4"}) {
    Job job;
    job.options = options;
    job.input = Jcl() + Body() + kEndOfJob + "\n";
    JobResult r = RunJob(job);
    EXPECT_EQ(r.process.exit_status, 1) << options;
    EXPECT_NE(r.process.err.find("ERROR: "), std::string::npos) << options;
    EXPECT_TRUE(r.process.out.empty()) << options;
  }
}

TEST(GenericRoad, MalformedOrMisplacedAnchorsLeaveTheirPartUnedited) {
  struct Case {
    const char* name;
    std::string jcl;
  } cases[] = {
      {"no anchors", kUel + "@PJL\n@PJL ENTER LANGUAGE=POSTSCRIPT\n"},
      {"USERNAME without =", kUel + "@PJL SET USERNAME\n@PJL ENTER LANGUAGE=POSTSCRIPT\n"},
      // BITSPERPIXEL before QTY: the duplex anchor is out of order and stays as it is.
      {"out of order", kUel + "@PJL SET BITSPERPIXEL=1\n@PJL SET QTY=1\n@PJL ENTER LANGUAGE=POSTSCRIPT\n"},
  };
  for (const Case& c : cases) {
    Job job;
    job.options = "Duplex=DuplexNoTumble";
    job.copies = "4";
    job.input = c.jcl + Body() + kEndOfJob + "\n";
    JobResult r = RunJob(job);
    std::string expected = job.input;
    if (std::string(c.name) == "out of order") {
      expected = kUel + "@PJL SET BITSPERPIXEL=1\n@PJL SET QTY=1\n@PJL SET COPIES=4\n@PJL ENTER LANGUAGE=POSTSCRIPT\n" +
                 Body() + kEndOfJob + "\n";
    }
    EXPECT_EQ(r.process.out, expected) << c.name;
  }
}

TEST(GenericRoad, BinaryDataAndLongLinesPassUnchanged) {
  std::string binary;
  for (int i = 0; i < 3 * 8192 + 17; ++i) binary.push_back(static_cast<char>(i * 7 % 256));
  std::string long_line(100 * 1024, 'L');
  std::string payload = std::string("\0\0\0", 3) + binary + long_line + "\n";
  Job job;
  job.input = kUel + "@PJL\n@PJL ENTER LANGUAGE=POSTSCRIPT\n" + Body() + payload + kEndOfJob + "\n";
  JobResult r = RunJob(job);
  EXPECT_EQ(r.process.exit_status, 0);
  EXPECT_EQ(r.process.out, job.input);
}

TEST(GenericRoad, SpoolingAddsTheEndOfJobSequenceOnlyWhenMissing) {
  std::string big_body = Body("%%Page: 1 1\n" + std::string(20000, ' ') + "\nshowpage\n");
  struct Case {
    const char* name;
    std::string input, expected;
  } cases[] = {
      {"with sequence", big_body + kEndOfJob + "\n", big_body + kEndOfJob + "\n"},
      {"without sequence", big_body, big_body + kEndOfJob + "\n"},
      {"short input", "%!\n", "%!\n"},
      // The UEL that begins a small job is no end of job.
      {"small job with a header only", kUel + "@PJL\n@PJL ENTER LANGUAGE=POSTSCRIPT\n" + Body(),
       kUel + "@PJL\n@PJL ENTER LANGUAGE=POSTSCRIPT\n" + Body() + kEndOfJob + "\n"},
      {"PJL end of job", Body() + kUel + "@PJL\n@PJL EOJ\n" + kUel, Body() + kUel + "@PJL\n@PJL EOJ\n" + kUel},
      {"PostScript after the last UEL", kUel + "@PJL ENTER LANGUAGE=POSTSCRIPT\n" + big_body,
       kUel + "@PJL ENTER LANGUAGE=POSTSCRIPT\n" + big_body + kEndOfJob + "\n"},
  };
  for (const Case& c : cases) {
    Job job;
    job.input = c.input;
    JobResult r = RunJob(job);
    EXPECT_EQ(r.process.exit_status, 0) << c.name;
    EXPECT_EQ(r.process.out, c.expected) << c.name;
    EXPECT_TRUE(r.left_in_tmpdir.empty()) << c.name;
  }
}
