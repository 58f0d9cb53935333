// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// pstoVarnel on a QD3840 model: the completed JOB NAME line, page-size fixes, collated copies.
#include <gtest/gtest.h>

#include "ps_job.h"

using namespace ps_test;

namespace {

std::string JobLine() { return kUel + "@PJL\n@PJL JOB NAME = \"Report\" DISPLAY = \"1 alice Report\"\n"; }
std::string OwnerAndId() { return "@PJL SET JOBOWNER=\"" + HostName() + "\"\n@PJL SET JOBID=42\n"; }
std::string RestOfJcl() {
  return "@PJL SET USERNAME = \"alice\"\n@PJL SET TIMEPRINT=ON\n@PJL SET QTY=1\n@PJL SET BITSPERPIXEL=1\n"
         "@PJL ENTER LANGUAGE=POSTSCRIPT\n";
}

Job Qd3840Job(const std::string& options, const std::string& body) {
  Job job;
  job.ppd = "qd3840.ppd";
  job.options = options;
  job.input = Jcl() + body + kEndOfJob + "\n";
  return job;
}

}  // namespace

TEST(Qd3840Road, CompletesTheJobNameLine) {
  struct Case {
    const char* name;
    std::string options, extra;
  } cases[] = {
      {"plain", "", ""},
      {"A5 long edge", "PageSize=A5 FeedEdge=LongEdge", "@PJL SET PAPER=A5L\n"},
      {"A5 short edge is no A5L", "PageSize=A5 FeedEdge=ShortEdge", ""},
      {"PIN", "LockedPinPrint PinNum1=4 PinNum2=3 PinNum3=2 PinNum4=1",
       "@PJL SET JOBOWNER=\"vn" + HostName() + "\"\n@PJL SET PINJOBNAME=\"alice\"\n@PJL SET JOBPASSWORD=\"4321\"\n"},
  };
  for (const Case& c : cases) {
    JobResult r = RunJob(Qd3840Job(c.options, Body()));
    EXPECT_EQ(r.process.exit_status, 0) << c.name << r.process.err;
    EXPECT_EQ(r.process.out, JobLine() + OwnerAndId() + c.extra + RestOfJcl() + Body() + kEndOfJob + "\n") << c.name;
    EXPECT_TRUE(r.left_in_tmpdir.empty()) << c.name;
  }
}

TEST(Qd3840Road, CorrectsPageSizeStatements) {
  std::string in =
      "<</Type/Page/MediaBox [0 0 600 800]>>\n/pdfSetupPaper {} def\n100 200 pdfSetupPaper\n"
      "<<DeferredMediaSelection true>>setpagedevice\n%%Page: 1 1\nshowpage\n";
  std::string out =
      "<</Type/Page/MediaBox [0 0 612 792]\n/pdfSetupPaper {} def\n612 792 pdfSetupPaper\n"
      "<</DeferredMediaSelection true>>setpagedevice\n%%Page: 1 1\nshowpage\n";
  JobResult r = RunJob(Qd3840Job("PageSize=Letter", in));
  EXPECT_EQ(r.process.out, JobLine() + OwnerAndId() + RestOfJcl() + out + kEndOfJob + "\n");
}

TEST(Qd3840Road, CollatedCopiesRepeatTheBodyInsideOneJob) {
  std::string feature = "%RBIBeginNonPPDFeature: *NumCopies 3\n3 dict begin /NumCopies 3 def\n%RBIEndNonPPDFeature\n";
  std::string body = Body("%%Page: 1 1\n" + feature + "showpage\n");
  std::string clean_body = Body("%%Page: 1 1\nshowpage\n");
  for (const char* options : {"Collate", "collate=true"}) {
    Job job = Qd3840Job(options, body);
    job.copies = "3";
    JobResult r = RunJob(job);
    EXPECT_EQ(r.process.exit_status, 0) << r.process.err;
    EXPECT_EQ(r.process.out, JobLine() + OwnerAndId() + RestOfJcl() + clean_body + clean_body + clean_body + kEndOfJob)
        << options;
    EXPECT_TRUE(r.left_in_tmpdir.empty()) << options;
  }
  Job uncollated = Qd3840Job("noCollate", body);
  uncollated.copies = "3";
  JobResult r = RunJob(uncollated);
  EXPECT_EQ(r.process.out, JobLine() + OwnerAndId() + RestOfJcl() + body + kEndOfJob + "\n");
}

TEST(Qd3840Road, CustomSizeOutsideTheLimitsIsRefused) {
  struct Case {
    const char* name;
    std::string box;
    int status;
  } cases[] = {
      {"printable", "<</Type/Page/MediaBox [0 0 612 1008]>>\n", 0},
      {"too small", "<</Type/Page/MediaBox [0 0 200 500]>>\n", 1},
      {"setup paper too wide", "700 800 pdfSetupPaper\n", 1},
  };
  for (const Case& c : cases) {
    JobResult r = RunJob(Qd3840Job("PageSize=Custom.612x1008", Body(c.box + "%%Page: 1 1\nshowpage\n")));
    EXPECT_EQ(r.process.exit_status, c.status) << c.name;
    if (c.status != 0) {
      EXPECT_TRUE(r.process.out.empty()) << c.name;
      EXPECT_NE(r.process.err.find("ERROR: The current custom pager cannot be printed,please use the correct paper"),
                std::string::npos)
          << c.name;
    }
    EXPECT_TRUE(r.left_in_tmpdir.empty()) << c.name;
  }
}

TEST(Qd3840Road, BinaryLinesPassWhole) {
  std::string payload = std::string("bin\0ary\r\x80\xff", 11) + std::string(100 * 1024, 'x') + "\n";
  JobResult r = RunJob(Qd3840Job("", Body() + payload));
  EXPECT_EQ(r.process.out, JobLine() + OwnerAndId() + RestOfJcl() + Body() + payload + kEndOfJob + "\n");
}
