// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Cancellation: the job ends at the next page start with the 69-byte trailer.
#include <gtest/gtest.h>

#include "cancel_cut.h"
#include "common.h"
#include "ps_job.h"

using namespace ps_test;

namespace {

// Pages big enough that the copy is still running when the signal arrives.
std::string Pages(int count) {
  std::string pages;
  for (int i = 1; i <= count; ++i)
    pages += "%%Page: " + std::to_string(i) + " " + std::to_string(i) + "\n" + std::string(300000, 'p') + "\nshowpage\n";
  return pages;
}

}  // namespace

TEST(CancelProgram, SigtermEndsTheJobAtTheNextPageStartOnBothRoads) {
  struct Case {
    const char* name;
    std::string ppd, options, end;
  } cases[] = {
      {"generic", "generic.ppd", "", ""},
      {"qd3840", "qd3840.ppd", "", ""},
      {"qd3840 collating", "qd3840.ppd", "Collate", kEndOfJob},
  };
  for (const Case& c : cases) {
    Job job;
    job.ppd = c.ppd;
    job.options = c.options;
    job.copies = "2";
    job.input = Jcl() + Body(Pages(8)) + kEndOfJob + "\n";
    job.run.signal_when_stderr_has = "test argv[1] value is";
    JobResult r = RunJob(job);
    ASSERT_TRUE(r.process.signal_sent) << c.name;
    EXPECT_EQ(r.process.exit_status, 0) << c.name << r.process.err;
    const std::string& out = r.process.out;
    std::string tail = kTrailer + c.end;
    ASSERT_GE(out.size(), tail.size()) << c.name;
    EXPECT_EQ(out.substr(out.size() - tail.size()), tail) << c.name;
    // Page 1 follows the setup directly and is printed; the cut comes at page 2.
    std::string before_cut = std::string(300000, 'p') + "\nshowpage\n";
    EXPECT_EQ(out.substr(out.size() - tail.size() - before_cut.size(), before_cut.size()), before_cut) << c.name;
    EXPECT_NE(out.find("%%Page: 1 1\n"), std::string::npos) << c.name;
    EXPECT_EQ(out.find("%%Page: 2 2"), std::string::npos) << c.name;
    EXPECT_TRUE(r.left_in_tmpdir.empty()) << c.name;
  }
}

TEST(FindPageEnd, CutsAtTheFirstPageStartUnlessItFollowsTheSetup) {
  EXPECT_EQ(kTrailer.size(), kCancelTrailerLength);
  struct Case {
    std::string buffer;
    int canceled, result, found;
  } cases[] = {
      {"abc\n%%Page: 2 2\nxyz", 1, 1, 69},
      {"abc\n%%page: 2 2\nxyz", 1, 1, 69},
      {"%%EndSetup\n%%Page: 1 1\n%%Page: 2 2\n", 1, 0, 0},
      {"no page here\n", 1, 0, 0},
      {"abc\n%%Page: 2 2\n", 0, 1, 0},
  };
  for (const Case& c : cases) {
    std::string buffer = c.buffer;
    int found = -1;
    testing::internal::CaptureStdout();
    int result = find_pageend(buffer, buffer.size(), &found, c.canceled);
    std::string written = testing::internal::GetCapturedStdout();
    EXPECT_EQ(result, c.result) << c.buffer;
    EXPECT_EQ(found, c.found) << c.buffer;
    if (c.found != 0) {
      EXPECT_EQ(written, "abc\n" + kTrailer);
      EXPECT_EQ(buffer, kTrailer);
    } else {
      EXPECT_EQ(written, "");
      EXPECT_EQ(buffer, c.buffer);
    }
  }
}
