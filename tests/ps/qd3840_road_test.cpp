// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// pstoVarnel on a QD3840 model: the completed JOB NAME line, page-size fixes, collated copies.
#include <gtest/gtest.h>

#include <algorithm>

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
    EXPECT_EQ(r.process.out,
              JobLine() + OwnerAndId() + RestOfJcl() + clean_body + clean_body + clean_body + kEndOfJob + "\n")
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

// The job as the CUPS chain hands it over: the PostScript is followed by the PPD's end of job.
// Every copy of the body stays inside the one PJL job; the end of the job comes once, after all.
TEST(Qd3840Road, CollatedCopiesOfAJobAsTheChainSendsIt) {
  const std::string pages = "%%Page: 1 1\nshowpage\n%%Page: 2 2\nshowpage\n";
  const std::string chain_end = kUel + "@PJL\n@PJL RDYMSG DISPLAY = \"\"\n@PJL EOJ\n" + kUel;
  // Over 8 KiB, and the last line has no line feed.
  std::string no_line_feed = Body(pages + "%" + std::string(9000, '-') + "\n") + "showpage";
  struct Case {
    const char* name;
    std::string input, expected_after_header;
  } cases[] = {
      {"PJL end of job", Jcl() + Body(pages) + chain_end, Body(pages) + Body(pages) + chain_end},
      // Spooling adds the end-of-job sequence; the last line still reaches every copy.
      {"last line without line feed", Jcl() + no_line_feed,
       no_line_feed + "\n" + no_line_feed + kEndOfJob + "\n"},
      {"no end of job at all", Jcl() + Body(pages), Body(pages) + Body(pages) + kEndOfJob + "\n"},
  };
  for (const Case& c : cases) {
    Job job = Qd3840Job("Collate=True", "");
    job.input = c.input;
    job.copies = "2";
    JobResult r = RunJob(job);
    EXPECT_EQ(r.process.exit_status, 0) << c.name << r.process.err;
    EXPECT_EQ(r.process.out, JobLine() + OwnerAndId() + RestOfJcl() + c.expected_after_header) << c.name;
    EXPECT_TRUE(r.left_in_tmpdir.empty()) << c.name;
  }
}

// The copy file has a name of its own: a file named after the job does not change the job.
TEST(Qd3840Road, FileBesideTheJobDoesNotDisturbCollating) {
  varnel_test::TempDir dir;
  const std::string file = dir.File("job.ps"), planted = dir.File("job.ps_m");
  varnel_test::WriteFile(file, Jcl() + Body() + kEndOfJob + "\n");
  varnel_test::WriteFile(planted, "planted\n");
  Job job = Qd3840Job("Collate", "");
  job.file = file;
  job.copies = "3";
  JobResult r = RunJob(job);
  EXPECT_EQ(r.process.exit_status, 0) << r.process.err;
  EXPECT_EQ(r.process.out, JobLine() + OwnerAndId() + RestOfJcl() + Body() + Body() + Body() + kEndOfJob + "\n");
  EXPECT_EQ(varnel_test::ReadFile(planted), "planted\n");
  EXPECT_EQ(varnel_test::ListFiles(dir.path()), (std::vector<std::string>{"job.ps", "job.ps_m"}));
  EXPECT_TRUE(r.left_in_tmpdir.empty());
}

// A copy file that cannot be written in full (here: a file-size limit of 1 KiB) does not give
// truncated copies: they are read from the print file again, corrected the same way.
TEST(Qd3840Road, CopyFileThatCannotBeWrittenStillGivesWholeCopies) {
  varnel_test::TempDir dir;
  std::string feature = "%RBIBeginNonPPDFeature: *NumCopies 2\n/NumCopies 2 def\n%RBIEndNonPPDFeature\n";
  std::string pages;
  for (int i = 1; i <= 3; ++i)
    pages += "%%Page: " + std::to_string(i) + " " + std::to_string(i) + "\n100 200 pdfSetupPaper\n" +
             std::string(2000, '#') + "\nshowpage\n";
  const std::string file = dir.File("job.ps");
  varnel_test::WriteFile(file, Jcl() + Body(feature + pages) + kEndOfJob + "\n");
  Job job = Qd3840Job("Collate PageSize=Letter", "");
  job.file = file;
  job.copies = "2";
  JobResult normal = RunJob(job);
  job.wrapper = "ulimit -f 1; trap '' XFSZ; exec -a queue1 \"$0\" \"$@\"";
  JobResult limited = RunJob(job);
  EXPECT_EQ(limited.process.exit_status, 0) << limited.process.err;
  EXPECT_NE(limited.process.err.find("the copy file cannot be written"), std::string::npos) << limited.process.err;
  EXPECT_EQ(std::count(limited.process.out.begin(), limited.process.out.end(), '#'), 2 * 3 * 2000);
  EXPECT_EQ(limited.process.out.find("100 200 pdfSetupPaper"), std::string::npos);
  EXPECT_EQ(limited.process.out.find("NumCopies"), std::string::npos);
  EXPECT_EQ(limited.process.out, normal.process.out);
  EXPECT_TRUE(limited.left_in_tmpdir.empty());
}
