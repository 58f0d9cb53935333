// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// A PDF through the stock PostScript chain (pdftopdf, pdftops with pstops' JCL) into
// pstoVarnel with the generated PPDs: the filter completes the PJL job header that the PPD's JCL
// begins, on the generic road and on the QD3840 road.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "cups_support.h"
#include "test_support.h"

namespace varnel_test {
namespace {

std::string HostName() {
  char name[256] = "";
  gethostname(name, sizeof name - 1);
  return name;
}

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// Each text must occur, and after the one before it.
void ExpectInOrder(const std::string& stream, const std::vector<std::string>& texts) {
  size_t previous = 0;
  for (const auto& text : texts) {
    size_t at = stream.find(text, previous);
    EXPECT_NE(at, std::string::npos) << "missing or out of order: " << text << "\nin:\n"
                                     << stream.substr(0, stream.find("%!PS") + 4);
    if (at != std::string::npos) previous = at + text.size();
  }
}

// One PJL job: its end (the PPD's "@PJL EOJ" between two UELs) comes once, after the last copy
// of the last page, and nothing follows it.
void ExpectOneJobWithEveryCopyInside(const ProcessResult& run, size_t copies, int pages) {
  const std::string& out = run.out;
  const std::string uel = "\x1b%-12345X", last_page = "%%Page: " + std::to_string(pages);
  EXPECT_EQ(Count(out, "@PJL JOB NAME"), 1u);
  EXPECT_EQ(Count(out, "@PJL ENTER LANGUAGE=POSTSCRIPT"), 1u);
  EXPECT_EQ(Count(out, "%!PS-Adobe-3.0"), copies);
  EXPECT_EQ(Count(out, last_page), copies);
  ASSERT_EQ(Count(out, "@PJL EOJ"), 1u);
  EXPECT_GT(out.find("@PJL EOJ"), out.rfind(last_page));
  EXPECT_EQ(Count(out, uel), 3u) << "one to begin the job, two around its end";
  ASSERT_GE(out.size(), uel.size());
  EXPECT_EQ(out.compare(out.size() - uel.size(), uel.size(), uel), 0);
}

class PostScriptChainTest : public ::testing::Test {
 protected:
  void SetUp() override {
    document_ = MakeTestPdf(dir_, 3);
    ASSERT_FALSE(document_.empty());
  }
  ProcessResult Print(const std::string& ppd, int copies, const std::vector<std::string>& options) {
    ChainJob job;
    job.ppd = ppd;
    job.input = document_;
    job.copies = copies;
    job.options = options;
    return chain_.Run(job);
  }

  TempDir dir_;
  std::string document_;
  CupsfilterChain chain_;
};

TEST_F(PostScriptChainTest, GenericModelGetsUserCopiesDuplexPinAndDelay) {
  ProcessResult run = Print("rxt415k2.ppd", 3,
                            {"Duplex=DuplexNoTumble", "LockedPinPrint=True", "PinNum1=1", "PinNum2=2", "PinNum3=3",
                             "PinNum4=4", "TimePrint=True", "PrintTimeH=22", "PrintTimeM=30"});
  ASSERT_EQ(run.exit_status, 0) << run.err;
  const std::string& out = run.out;
  ExpectInOrder(out, {"\x1b%-12345X@PJL\n", "@PJL JOB NAME", "@PJL SET USERNAME=\"alice\"\n",
                      "@PJL SET JOBOWNER=\"vn" + HostName() + "\"\n", "@PJL SET PINJOBNAME=\"alice\"\n",
                      "@PJL SET JOBPASSWORD=\"1234\"\n", "@PJL SET TIMEPRINT=ON\n@PJL SET PRINTDELAY=1350\n",
                      "@PJL SET QTY=1\n@PJL SET COPIES=3\n",
                      "@PJL SET BITSPERPIXEL=1\n@PJL SET DUPLEX=ENABLE\n@PJL SET BINDING=LONGEDGE\n",
                      "@PJL ENTER LANGUAGE=POSTSCRIPT\n%!PS", "%%Page: 3 3", "@PJL EOJ"});
  // The document is sent once; the printer makes the copies, and CUPS counts them.
  EXPECT_EQ(Count(out, "%%Page: 1 1"), 1u);
  EXPECT_EQ(Count(run.err, "\nPAGE: "), 3u) << run.err;
  EXPECT_NE(run.err.find("\nPAGE: 3 3\n"), std::string::npos) << run.err;
  EXPECT_EQ(Count(out, "@PJL SET JOBOWNER"), 1u) << "with a PIN the owner comes with the PIN lines only";
}

TEST_F(PostScriptChainTest, GenericModelWithoutExtrasNamesTheOwnerAndSwitchesDuplexOff) {
  ProcessResult run = Print("tm5720dn.ppd", 1, {"Duplex=None"});
  ASSERT_EQ(run.exit_status, 0) << run.err;
  // pdftops renders images at the resolution the PPD gives.
  EXPECT_NE(run.err.find("Using image rendering resolution 600 dpi"), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find("No resolution information found in the PPD file"), std::string::npos);
  ExpectInOrder(run.out, {"@PJL SET USERNAME=\"alice\"\n", "@PJL SET JOBOWNER=\"vn" + HostName() + "\"\n",
                          "@PJL SET TIMEPRINT=OFF\n", "@PJL SET QTY=1\n@PJL SET COPIES=1\n",
                          "@PJL SET BITSPERPIXEL=1\n@PJL SET DUPLEX=DISABLE\n", "@PJL ENTER LANGUAGE=POSTSCRIPT\n"});
  EXPECT_EQ(run.out.find("PRINTDELAY"), std::string::npos);
  EXPECT_EQ(run.out.find("JOBPASSWORD"), std::string::npos);
}

TEST_F(PostScriptChainTest, Qd3840ModelGetsOwnerJobIdAndPinOnTheJobLine) {
  // Without collation (no Collate word in the options) the PIN lines follow the job line.
  ProcessResult run = Print("prlp8400.ppd", 1,
                            { "LockedPinPrint=True", "PinNum1=9", "PinNum2=8", "PinNum3=7", "PinNum4=6"});
  ASSERT_EQ(run.exit_status, 0) << run.err;
  ExpectInOrder(run.out, {"@PJL JOB NAME", "\n@PJL SET JOBOWNER=\"" + HostName() + "\"\n@PJL SET JOBID=1\n",
                          "@PJL SET JOBOWNER=\"vn" + HostName() + "\"\n", "@PJL SET PINJOBNAME=\"alice\"\n",
                          "@PJL SET JOBPASSWORD=\"9876\"\n", "@PJL ENTER LANGUAGE=POSTSCRIPT\n", "%%Page: 3 3"});
}

TEST_F(PostScriptChainTest, Qd3840ModelRepeatsTheBodyForCollatedCopiesInOneJob) {
  ProcessResult run = Print("prlm8400.ppd", 2, {"Collate=True"});
  ASSERT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(Count(run.out, "@PJL JOB NAME"), 1u);
  EXPECT_EQ(Count(run.out, "@PJL ENTER LANGUAGE=POSTSCRIPT"), 1u);
  EXPECT_EQ(Count(run.out, "%%Page: 1 1"), 2u);
  EXPECT_EQ(Count(run.out, "%%Page: 3 3"), 2u);
  // pstops' own copies feature is taken out: the filter makes the copies.
  EXPECT_EQ(run.out.find("%RBIBeginNonPPDFeature: *NumCopies"), std::string::npos);
  ExpectOneJobWithEveryCopyInside(run, 2, 3);
}

// The chain as the issue of collated copies was seen: a PostScript file, cupsfilter with
// Collate=True and two copies.
TEST_F(PostScriptChainTest, Qd3840ModelCollatesAPostScriptFileInsideOneJob) {
  ChainJob job;
  job.ppd = "prlm8400.ppd";
  job.input = dir_.File("document-dsc.ps");  // the test PDF as a DSC PostScript file
  ASSERT_EQ(RunProgram("/usr/bin/gs", {"-q", "-dNOPAUSE", "-dBATCH", "-dSAFER", "-sDEVICE=ps2write",
                                       "-sOutputFile=" + job.input, document_})
                .exit_status,
            0);
  job.copies = 2;
  job.options = {"Collate=True"};
  ProcessResult run = chain_.Run(job);
  ASSERT_EQ(run.exit_status, 0) << run.err;
  ExpectOneJobWithEveryCopyInside(run, 2, 3);
  // Every page sent counts for CUPS' accounting.
  EXPECT_EQ(Count(run.err, "\nPAGE: "), 6u) << run.err;
  EXPECT_NE(run.err.find("\nPAGE: 6 1\n"), std::string::npos) << run.err;
}

}  // namespace
}  // namespace varnel_test
