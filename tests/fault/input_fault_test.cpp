// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// The raster ends inside a page or inside a page header, or a page between valid ones is
// refused. The pages before are printed, a cut page is completed white, the document is ended,
// and the job fails with a line that says what happened.
#include <cstdio>
#include <iostream>

#include "fault_harness.h"

namespace fault {
namespace {

constexpr unsigned kRasterLines = 1200;  // of each page (144 pt at 600 dpi)
constexpr unsigned kHeaderBytes = 1796;  // a page header in the raster stream
constexpr unsigned kCutLine = 700;       // within the page's image, which has 1000 rows

enum class Kind { CutInPage, CutInHeader, Refused16Bit, RefusedTooWide };

struct InputCase {
  const char* name;
  Kind kind;
  int page;  // the page that is cut or refused
  bool compressed;
};

const InputCase kCases[] = {
    {"raster ends inside page 1", Kind::CutInPage, 1, false},
    {"raster ends inside page 2", Kind::CutInPage, 2, false},
    {"raster ends inside the header of page 2", Kind::CutInHeader, 2, false},
    {"page 2 has 16 bits per colour", Kind::Refused16Bit, 2, false},
    {"page 2 is wider than any paper", Kind::RefusedTooWide, 2, false},
    {"compressed raster ends inside page 2", Kind::CutInPage, 2, true},
    {"compressed raster ends inside the header of page 2", Kind::CutInHeader, 2, true},
};

// Three pages with bars and 300 rows of noise from row 600 on, so that the lines a cut page keeps
// show in its picture.
std::vector<RasterPage> Pages() {
  PageLook look;
  look.noiseRows = 300;
  return MakePages(3, look);
}

struct Prepared {
  std::string raster;
  size_t cutAt = 0;  // bytes kept, for the cut cases
};

Prepared Prepare(const InputCase& c) {
  std::vector<RasterPage> pages = Pages();
  Prepared p;
  if (c.kind == Kind::Refused16Bit || c.kind == Kind::RefusedTooWide) {
    cups_page_header2_t& h = pages[1].header;
    if (c.kind == Kind::Refused16Bit) {
      h.cupsBitsPerColor = h.cupsBitsPerPixel = 16;
      h.cupsBytesPerLine = 2 * h.cupsWidth;
    } else {
      h.cupsWidth = h.cupsBytesPerLine = 1000000;
    }
    pages[1].pixels.clear();  // refused before any of its data is read
    p.raster = RasterBytes(pages);
    return p;
  }
  const cups_mode_t mode = c.compressed ? CUPS_RASTER_WRITE_COMPRESSED : CUPS_RASTER_WRITE;
  const std::vector<size_t> starts = PageStarts(pages, mode);
  const size_t start = starts[static_cast<size_t>(c.page) - 1];
  if (c.kind == Kind::CutInHeader) {
    p.cutAt = start + kHeaderBytes / 2;
  } else if (c.compressed) {
    p.cutAt = start + kHeaderBytes + (starts[static_cast<size_t>(c.page)] - start - kHeaderBytes) / 2;
  } else {
    p.cutAt = start + kHeaderBytes + static_cast<size_t>(kCutLine) * pages[0].header.cupsBytesPerLine + 500;
  }
  p.raster = RasterBytes(pages, mode).substr(0, p.cutAt);
  return p;
}

// Empty when `got` has the rows of `full` above `lines` and is white below.
std::string CutPageMismatch(const vi::Page& got, const vi::Page& full, unsigned lines) {
  if (!got.decoded) return "the cut page does not decode";
  if (got.plane.width != full.plane.width || got.plane.height != full.plane.height) return "the cut page has another size";
  const size_t stride = got.plane.Stride();
  for (unsigned y = 0; y < got.plane.height; ++y) {
    const uint8_t* row = &got.plane.rows[y * stride];
    const uint8_t* want = &full.plane.rows[y * stride];
    for (size_t x = 0; x < stride; ++x) {
      if (y < lines && row[x] != want[x]) return "row " + std::to_string(y) + " differs from the full page";
      if (y >= lines && row[x] != 0) return "row " + std::to_string(y) + " is not white";
    }
  }
  return "";
}

class InputFaults : public testing::TestWithParam<Printer> {};

TEST_P(InputFaults, PagesBeforeArePrintedAndTheDocumentEnds) {
  const Printer printer = GetParam();
  const size_t n = sizeof kCases / sizeof kCases[0];
  std::vector<Prepared> prepared;
  for (const InputCase& c : kCases) prepared.push_back(Prepare(c));
  std::vector<Outcome> outcomes = RunParallel<Outcome>(n + 1, [&](size_t i) {
    Job job;
    job.printer = printer;
    job.raster = i < n ? prepared[i].raster : RasterBytes(Pages());
    RunOptions run;
    run.timeout_ms = 30000;
    return RunJob(job, run);
  });
  const Outcome& ref = outcomes[n];
  ASSERT_EQ(ref.run.exit_status, 0) << Describe(ref);
  ASSERT_EQ(ref.stream.pages.size(), 3u) << Describe(ref);

  for (size_t i = 0; i < n; ++i) {
    const InputCase& c = kCases[i];
    const Outcome& o = outcomes[i];
    Findings f;
    ExpectNoLeftovers(&f, o);
    ExpectWellFormed(&f, o);
    const size_t before = static_cast<size_t>(c.page) - 1;
    std::string expected;
    bool mayBeSilent = false;  // the filter cannot tell this fault from the end of the job
    if (c.kind == Kind::Refused16Bit) {
      expected = "ERROR: Page 2 refused: cupsBitsPerColor = 16 (8 needed)";
    } else if (c.kind == Kind::RefusedTooWide) {
      expected = "ERROR: Page 2 refused: cupsWidth = 1000000 (larger than any paper at this resolution)";
    } else if (c.kind == Kind::CutInHeader) {
      expected = "ERROR: The raster data ended inside the header of page " + std::to_string(c.page);
      mayBeSilent = c.compressed;
    }

    if (c.kind == Kind::CutInPage) {
      // The lines the filter says it had; for an uncompressed raster exactly those before the cut.
      unsigned lines = 0, height = 0;
      int page = 0;
      bool said = false;
      for (const std::string& line : o.errors)
        said = said || sscanf(line.c_str(), "ERROR: The raster data ended after %u of %u lines of page %d", &lines,
                              &height, &page) == 3;
      if (!c.compressed) {
        ExpectErrorLines(&f, o, {"ERROR: The raster data ended after " + std::to_string(kCutLine) + " of " +
                                 std::to_string(kRasterLines) + " lines of page " + std::to_string(c.page)});
        lines = kCutLine;
      } else {
        f.Expect(said && height == kRasterLines && page == c.page && lines < kRasterLines && o.errors.size() == 1,
                 "no single line \"ERROR: The raster data ended after L of 1200 lines of page 2\"");
        if (said) std::cout << "[ info ] " << c.name << " (" << printer.tag << "): the filter says " << lines << " of "
                            << height << " lines\n";
      }
      ExpectExit(&f, o, 1);
      ExpectReady(&f, o, false);
      f.Expect(o.stream.pages.size() == before + 1, std::to_string(o.stream.pages.size()) + " pages, not " +
                                                       std::to_string(before + 1) + " (the cut page completed)");
      if (o.stream.pages.size() == before + 1) {
        std::string pages = PageMismatch(std::vector<vi::Page>(o.stream.pages.begin(), o.stream.pages.begin() + before),
                                         PagesOf(ref.stream, 0, before));
        f.Expect(pages.empty(), "the pages before the cut: " + pages);
        if (said || !c.compressed) {
          std::string cut = CutPageMismatch(o.stream.pages[before], ref.stream.pages[before], lines);
          f.Expect(cut.empty(), "the cut page with its " + std::to_string(lines) + " lines: " + cut);
        }
      }
    } else {
      bool silent = o.run.exit_status == 0 && o.errors.empty();
      if (mayBeSilent && silent) {
        ExpectReady(&f, o, true);
        std::cout << "[ info ] " << c.name << " (" << printer.tag << "): the filter cannot tell; it ends with status 0\n";
      } else {
        ExpectExit(&f, o, 1);
        ExpectErrorLines(&f, o, {expected});
        ExpectReady(&f, o, false);
      }
      std::string pages = PageMismatch(o.stream.pages, PagesOf(ref.stream, 0, before));
      f.Expect(pages.empty(), "the printer did not get the pages before page " + std::to_string(c.page) + ": " + pages);
    }
    EXPECT_TRUE(f.empty()) << c.name << (c.compressed ? "" : " (uncompressed)") << ", raster of "
                           << prepared[i].raster.size() << " bytes:\n"
                           << f.Text() << "  (" << Describe(o) << ")";
  }
}

INSTANTIATE_TEST_SUITE_P(AllPlatforms, InputFaults, testing::Values(kPrinterC, kPrinterZ, kPrinterM),
                         [](const testing::TestParamInfo<Printer>& info) { return std::string(info.param.tag); });

}  // namespace
}  // namespace fault
