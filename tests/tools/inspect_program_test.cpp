// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// The varnel-inspect program as a user meets it: usage on a wrong call or at a terminal, and
// page pictures turned on request.
#include <gtest/gtest.h>
#include <png.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "stream_builder.h"
#include "test_support.h"

namespace {

using namespace stream_test;

const std::string kInspector = varnel_test::BuildPath("tools/varnel-inspect/varnel-inspect");

struct TerminalRun {
  int exit_status = -1;
  bool timed_out = false;
  std::string output;  // standard output and standard error, as the terminal shows them
};

// Runs the inspector with a terminal as standard input, output and error.
TerminalRun RunOnTerminal(const std::vector<std::string>& args) {
  TerminalRun run;
  int master = -1;
  pid_t child = forkpty(&master, nullptr, nullptr, nullptr);
  if (child < 0) return run;
  if (child == 0) {
    std::vector<char*> argv = {const_cast<char*>(kInspector.c_str())};
    for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execv(kInspector.c_str(), argv.data());
    _exit(127);
  }
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  char buffer[4096];
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      run.timed_out = true;
      break;
    }
    pollfd fd = {master, POLLIN, 0};
    if (poll(&fd, 1, static_cast<int>(left.count())) <= 0) continue;
    ssize_t n = read(master, buffer, sizeof buffer);
    if (n <= 0) break;  // EIO once the program has closed the terminal
    run.output.append(buffer, static_cast<size_t>(n));
  }
  if (run.timed_out) kill(child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
  close(master);
  if (WIFEXITED(status)) run.exit_status = WEXITSTATUS(status);
  return run;
}

TEST(InspectProgramUsage, AtATerminalWithoutFileItShowsTheUsageInsteadOfWaiting) {
  TerminalRun run = RunOnTerminal({"--summary"});
  ASSERT_FALSE(run.timed_out) << "varnel-inspect waited on the terminal";
  EXPECT_EQ(run.exit_status, 2);
  EXPECT_NE(run.output.find("Usage: varnel-inspect [OPTION]... [FILE]"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("--help"), std::string::npos) << run.output;
}

TEST(InspectProgramUsage, WithoutFileItStillReadsAPipe) {
  varnel_test::RunOptions options;
  options.stdin_data = "";  // an empty stream is not a printer stream: a defect, not a usage error
  varnel_test::ProcessResult run = varnel_test::RunProgram(kInspector, {"--summary"}, options);
  EXPECT_EQ(run.exit_status, 1) << run.out << run.err;
  EXPECT_NE(run.out.find("result defective"), std::string::npos) << run.out;
  EXPECT_EQ(run.err.find("Usage:"), std::string::npos) << run.err;
}

struct WrongCall {
  const char* name;
  std::vector<std::string> args;
  const char* complaint;
};

TEST(InspectProgramUsage, WrongCallsGetTheUsageLineAndStatus2) {
  const WrongCall calls[] = {
      {"unknown option", {"--bogus", "x.prn"}, "unknown or incomplete option \"--bogus\""},
      {"option without its value", {"x.prn", "--pages"}, "unknown or incomplete option \"--pages\""},
      {"two input files", {"a.prn", "b.prn"}, "more than one input file: \"b.prn\""},
      {"bad page list", {"--pages", "/tmp", "--turn", "2,,3", "x.prn"}, "invalid page list \"2,,3\""},
      {"words in the page list", {"--pages", "/tmp", "--turn=back", "x.prn"}, "invalid page list \"back\""},
      {"turn without pictures", {"--turn", "even", "x.prn"}, "--turn needs --pages DIR"},
  };
  for (const WrongCall& call : calls) {
    SCOPED_TRACE(call.name);
    varnel_test::ProcessResult run = varnel_test::RunProgram(kInspector, call.args);
    EXPECT_EQ(run.exit_status, 2);
    EXPECT_TRUE(run.out.empty()) << run.out;
    EXPECT_NE(run.err.find(call.complaint), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("Usage: varnel-inspect [OPTION]... [FILE]\n"), std::string::npos) << run.err;
  }
  varnel_test::ProcessResult help = varnel_test::RunProgram(kInspector, {"--help"});
  EXPECT_EQ(help.exit_status, 0);
  EXPECT_EQ(help.out.rfind("Usage: varnel-inspect [OPTION]... [FILE]\n", 0), 0u) << help.out;
  EXPECT_NE(help.out.find("--turn LIST"), std::string::npos) << help.out;
}

// Grey levels of a 1- or 2-bit grey PNG, row after row (0 = black).
struct Picture {
  unsigned width = 0, height = 0, depth = 0;
  std::vector<unsigned> levels;
  unsigned At(unsigned x, unsigned y) const { return levels[y * width + x]; }
};

Picture ReadPng(const std::string& path) {
  Picture picture;
  FILE* file = fopen(path.c_str(), "rb");
  if (file == nullptr) return picture;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (png && info && !setjmp(png_jmpbuf(png))) {
    png_init_io(png, file);
    png_read_info(png, info);
    picture.width = png_get_image_width(png, info);
    picture.height = png_get_image_height(png, info);
    picture.depth = png_get_bit_depth(png, info);
    std::vector<uint8_t> row(png_get_rowbytes(png, info));
    for (unsigned y = 0; y < picture.height; ++y) {
      png_read_row(png, row.data(), nullptr);
      for (unsigned x = 0; x < picture.width; ++x) {
        unsigned bit = x * picture.depth;
        picture.levels.push_back((row[bit / 8] >> (8 - picture.depth - bit % 8)) & ((1u << picture.depth) - 1));
      }
    }
  }
  png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
  fclose(file);
  return picture;
}

// Printed level of a pixel of the plane as sent: 0 white .. 1 (or 3) black.
unsigned PlaneLevel(const PageSpec& page, unsigned x, unsigned y) {
  unsigned bits = page.bitsPerPixel, level = 0;
  for (unsigned b = 0; b < bits; ++b) {
    unsigned at = x * bits + b;
    level = level << 1 | ((page.plane.rows[y * page.plane.Stride() + at / 8] >> (7 - at % 8)) & 1);
  }
  return level;
}

// The PNG shows the page's printed levels (inverted: grey 0 is black), turned when asked.
::testing::AssertionResult ShowsPage(const Picture& picture, const PageSpec& page, bool turned) {
  unsigned width = page.plane.width / page.bitsPerPixel, height = page.plane.height;
  if (picture.width != width || picture.height != height || picture.depth != page.bitsPerPixel)
    return ::testing::AssertionFailure() << "picture " << picture.width << "x" << picture.height << " depth "
                                         << picture.depth;
  unsigned white = (1u << page.bitsPerPixel) - 1;
  for (unsigned y = 0; y < height; ++y)
    for (unsigned x = 0; x < width; ++x) {
      unsigned sx = turned ? width - 1 - x : x, sy = turned ? height - 1 - y : y;
      if (picture.At(x, y) != white - PlaneLevel(page, sx, sy))
        return ::testing::AssertionFailure() << "pixel " << x << "," << y << " differs";
    }
  return ::testing::AssertionSuccess();
}

struct TurnCase {
  const char* list;
  std::vector<bool> turned;  // per page position
};

TEST(InspectProgramPictures, TurnShowsTheListedPagesUpsideDownAndKeepsThePbmAsSent) {
  PageSpec front, twoBitBack, lastFront;
  front.plane = MakePlane(64, 50, 7);
  twoBitBack.plane = MakePlane(96, 40, 5);  // 48 pixels of 2 bits: the bit order inside a pixel counts
  twoBitBack.bitsPerPixel = 2;
  lastFront.plane = MakePlane(40, 30, 9);
  const std::vector<PageSpec> pages = {front, twoBitBack, lastFront};
  varnel_test::TempDir dir;
  const std::string stream = dir.File("m.prn");
  Bytes bytes = Join(StreamM(pages));
  varnel_test::WriteFile(stream, std::string(bytes.begin(), bytes.end()));

  const TurnCase cases[] = {
      {"", {false, false, false}},
      {"even", {false, true, false}},
      {"odd", {true, false, true}},
      {"3,2", {false, true, true}},
  };
  for (const TurnCase& c : cases) {
    SCOPED_TRACE(std::string("--turn ") + c.list);
    const std::string folder = dir.File(std::string("pages-") + (*c.list ? c.list : "none"));
    std::vector<std::string> args = {"--quiet", "--pages", folder, stream};
    if (*c.list) args.insert(args.begin(), {"--turn", c.list});
    varnel_test::ProcessResult run = varnel_test::RunProgram(kInspector, args);
    ASSERT_EQ(run.exit_status, 0) << run.out << run.err;
    for (size_t i = 0; i < pages.size(); ++i) {
      char name[32];
      snprintf(name, sizeof name, "/page-%03zu", i + 1);
      Picture picture = ReadPng(folder + name + ".png");
      EXPECT_TRUE(ShowsPage(picture, pages[i], c.turned[i])) << "page " << i + 1;
      EXPECT_FALSE(ShowsPage(picture, pages[i], !c.turned[i])) << "page " << i + 1 << " looks the same both ways";
      std::string pbm = varnel_test::ReadFile(folder + name + ".pbm");
      EXPECT_EQ(pbm.substr(pbm.size() - pages[i].plane.rows.size()),
                std::string(pages[i].plane.rows.begin(), pages[i].plane.rows.end()))
          << "the PBM of page " << i + 1 << " is the plane as sent";
    }
  }
}

}  // namespace
