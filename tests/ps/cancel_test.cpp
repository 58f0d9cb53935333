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
    SignalWhileSpooling(job);
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
    // Only the page that was sent counts for CUPS' accounting.
    EXPECT_NE(r.process.err.find(c.options.empty() ? "PAGE: 1 2\n" : "PAGE: 1 1\n"), std::string::npos) << c.name;
    EXPECT_EQ(r.process.err.find("PAGE: 2 "), std::string::npos) << c.name;
    EXPECT_TRUE(r.left_in_tmpdir.empty()) << c.name;
  }
}

// The generic copier reads the job in 8192-byte chunks: wherever their borders fall, a
// cancelled job prints the page after the setup and nothing from the next page start on.
TEST(CancelProgram, GenericCutDoesNotDependOnChunkBorders) {
  const size_t kChunk = 8192;
  auto padded_to = [](std::string text, size_t length) {
    // Comment lines fill the document up to the given length.
    while (text.size() < length) {
      size_t room = length - text.size();
      text += room >= 3 ? "%" + std::string(std::min<size_t>(room - 2, 100), 'x') + "\n" : std::string(room, '\n');
    }
    return text;
  };
  const std::string start = Jcl() + "%!PS-Adobe-3.0\n%%Pages: 3\n%%EndComments\n%%BeginSetup\n";
  const std::string page1 = "%%Page: 1 1\nshowpage\n", rest = "%%Page: 2 2\nshowpage\n%%Page: 3 3\nshowpage\n%%EOF\n";
  struct Case {
    const char* name;
    std::string input, printed;
  } cases[] = {
      // A chunk ends with the setup; the next begins with page 1 and holds page 2 too.
      {"setup ends a chunk", padded_to(start, kChunk - 11) + "%%EndSetup\n" + page1 + rest,
       padded_to(start, kChunk - 11) + "%%EndSetup\n" + page1},
      // The chunk border splits the comment of page 2.
      {"page comment split", padded_to(start + "%%EndSetup\n" + page1, 2 * kChunk - 4) + rest,
       padded_to(start + "%%EndSetup\n" + page1, 2 * kChunk - 4)},
  };
  for (const Case& c : cases) {
    Job job;
    job.input = c.input + kEndOfJob + "\n";
    SignalWhileSpooling(job);
    JobResult r = RunJob(job);
    ASSERT_TRUE(r.process.signal_sent) << c.name;
    EXPECT_EQ(r.process.exit_status, 0) << c.name << r.process.err;
    const std::string& out = r.process.out;
    EXPECT_EQ(out.find("%%Page: 2 2"), std::string::npos) << c.name;
    // Everything after the (completed) header passes up to the cut, then the trailer.
    const std::string tail = c.printed.substr(Jcl().size()) + kTrailer;
    ASSERT_GE(out.size(), tail.size()) << c.name;
    EXPECT_EQ(out.substr(out.size() - tail.size()), tail) << c.name;
    EXPECT_NE(out.find("@PJL SET USERNAME=\"alice\"\n"), std::string::npos) << c.name;
  }
}
