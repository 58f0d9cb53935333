// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Memory runs short: the page buffers of a large page cannot be had, or the bitmap fits but the
// JBIG collecting buffer (about twice the raw bitmap of a page on C and M, of a 256-line band on
// Z) does not.
//
// The page buffers fail through the sanitizer's allocator (allocator_may_return_null=1 with
// max_allocation_size_mb; without a sanitizer, a limit of the address space). A page sent in
// bands (Z) has no page bitmap, only a few band buffers, which the allocation shim refuses. The collecting
// buffer cannot be made to fail that way alone: the grey page (8 bits a pixel) is larger than it,
// so any per-allocation limit stops the grey page first, and a band's buffer on Z is far smaller
// than any page buffer. The allocation shim refuses a window of sizes around it instead.
#include <cmath>
#include <cstdint>

#include "fault_harness.h"

namespace fault {
namespace {

// Page 1: the small page of the other tests. Page 2: the raster is 1000 x 1200 pixels, the
// page buffers are those of the paper.
RasterPage SmallPage() { return MakePage(1, PageLook()); }

RasterPage LargePage(unsigned widthPt, unsigned heightPt, unsigned dpi) {
  PageLook look;
  look.widthPt = widthPt;
  look.heightPt = heightPt;
  look.dpi = dpi;
  look.rasterWidth = 1000;
  look.rasterHeight = 1200;
  return MakePage(2, look);
}

Job TwoPageJob(const Printer& printer, const RasterPage& second) {
  Job job;
  job.printer = printer;
  job.raster = RasterBytes({SmallPage(), second});
  return job;
}

// Index of the first defect outside [from, to), or -1.
long FirstDefectOutside(const vi::InspectResult& stream, size_t from, size_t to) {
  for (size_t i = 0; i < stream.defects.size(); ++i)
    if (stream.defects[i].offset < from || stream.defects[i].offset >= to) return static_cast<long>(i);
  return -1;
}

// ---- Page buffers ----

struct PageBufferCase {
  const char* tag;
  Printer printer;
  unsigned dpi;
  unsigned limitMb;      // the bitmap of the Legal page is larger, everything the small page needs smaller
  size_t bandRowBytes;   // Z: the page has no bitmap; its band buffers (256 rows of this) are refused
  bool firstPage;        // the large page is the job's only page
};

// Legal (612 x 1008 pt), the largest paper of the tables: its bitmap alone is about 5 MB at
// 600 dpi (4864 x 8192 pixels at one bit), four times that on C at 1200 dpi. Z holds no more
// than a few bands of 256 rows of it (4864 pixels wide on Z).
constexpr unsigned kLegalWidthPt = 612, kLegalHeightPt = 1008;
constexpr size_t kZLegalRowBytes = 4864 / 8;
const PageBufferCase kPageBufferCases[] = {
    {"C_LegalAt1200dpi", kPrinterC, 1200, 16, 0, false},
    {"Z_Legal", kPrinterZ, 600, 0, kZLegalRowBytes, false},
    {"M_Legal", kPrinterM, 600, 4, 0, false},
    {"C_LegalAt1200dpiAsFirstPage", kPrinterC, 1200, 16, 0, true},
};

// The allocation shim, refusing malloc-family calls of low to high bytes.
Faults RefusingSizes(size_t low, size_t high) {
  Faults faults;
  faults.preload = AllocShim();
  faults.env.push_back("VARNEL_FAULT_ALLOC_FAIL=" + std::to_string(low) + "-" + std::to_string(high));
  return faults;
}

// The job under the faults and, at the same time, the fault-free job to compare it with.
struct Runs {
  Outcome faulty, clean;
};
Runs RunBesideFaultFree(const Job& job, const Faults& faults, const Job& clean) {
  RunOptions run;
  run.timeout_ms = 60000;
  std::vector<Outcome> runs = RunParallel<Outcome>(2, [&](size_t i) {
    return i == 0 ? RunJob(job, run, faults) : RunJob(clean, run);
  });
  return {runs[0], runs[1]};
}
void PrintTo(const PageBufferCase& c, std::ostream* os) { *os << c.tag; }

class PageBuffers : public testing::TestWithParam<PageBufferCase> {};

TEST_P(PageBuffers, PageIsNotStartedAndTheDocumentEnds) {
  const PageBufferCase& c = GetParam();
  Job job = TwoPageJob(c.printer, LargePage(kLegalWidthPt, kLegalHeightPt, c.dpi));
  if (c.firstPage) job.raster = RasterBytes({LargePage(kLegalWidthPt, kLegalHeightPt, c.dpi)});
  const size_t bandBytes = c.bandRowBytes * 256;
  Faults faults;
  if (bandBytes > 0) {
    faults = RefusingSizes(bandBytes - bandBytes / 16, bandBytes + bandBytes / 16);
  } else if (FAULT_SANITIZED) {
    faults.asanOptions = "allocator_may_return_null=1:max_allocation_size_mb=" + std::to_string(c.limitMb);
  } else {
    faults.preload = AllocShim();
    faults.env.push_back("VARNEL_FAULT_ADDRESS_SPACE_MB=" + std::to_string(c.limitMb));
  }
  Job single = job;
  single.raster = RasterBytes({SmallPage()});
  const Runs runs = RunBesideFaultFree(job, faults, single);
  const Outcome& o = runs.faulty;
  const Outcome& ref = runs.clean;
  ASSERT_EQ(ref.run.exit_status, 0) << Describe(ref);

  const int failing = c.firstPage ? 1 : 2;
  Findings f;
  ExpectExit(&f, o, 1);
  std::vector<std::string> errors = {"ERROR: Unable to print page " + std::to_string(failing) + ": out of memory"};
  if (c.firstPage) errors.push_back("ERROR: No pages found!");  // nothing reached the printer
  ExpectErrorLines(&f, o, errors);
  ExpectReady(&f, o, false);
  ExpectNoLeftovers(&f, o);
  // With no page before it the document may be ended empty, or not begun at all.
  ExpectWellFormed(&f, o, c.firstPage);
  std::string pages = PageMismatch(o.stream.pages, c.firstPage ? std::vector<const vi::Page*>() : PagesOf(ref.stream));
  f.Expect(pages.empty(), "the pages before the failing one are not what the printer got: " + pages);
  EXPECT_TRUE(f.empty()) << f.Text() << "  (" << Describe(o) << ")";
}

INSTANTIATE_TEST_SUITE_P(LargePage, PageBuffers, testing::ValuesIn(kPageBufferCases),
                         [](const testing::TestParamInfo<PageBufferCase>& info) { return std::string(info.param.tag); });

// A page sent in bands needs no buffer of the page's size: on Z a Legal page prints whole when
// no allocation of 1 MiB or more can be had (its bitmap would be 5 MB).
TEST(PageInBands, NeedsNoPageSizedBuffer) {
  Job job = TwoPageJob(kPrinterZ, LargePage(kLegalWidthPt, kLegalHeightPt, 600));
  const Runs runs = RunBesideFaultFree(job, RefusingSizes(size_t{1} << 20, SIZE_MAX), job);
  const Outcome& o = runs.faulty;
  const Outcome& ref = runs.clean;
  ASSERT_EQ(ref.run.exit_status, 0) << Describe(ref);
  Findings f;
  f.Expect(!Has(o.run.err, "DEBUG: fault shim: refused "), "an allocation of 1 MiB or more was made");
  ExpectExit(&f, o, 0);
  ExpectErrorLines(&f, o, {});
  ExpectWellFormed(&f, o, false);
  std::string pages = PageMismatch(o.stream.pages, PagesOf(ref.stream));
  f.Expect(pages.empty(), "the pages are not those of the job without the limit: " + pages);
  EXPECT_TRUE(f.empty()) << f.Text() << "  (" << Describe(o) << ")";
}

// ---- The JBIG collecting buffer ----

struct CollectorCase {
  const char* tag;
  Printer printer;
  unsigned imageWidth, imageHeight;  // the A4 row of the platform's paper table
  bool banded;                       // Z: one buffer per band of 256 lines
};

const CollectorCase kCollectorCases[] = {
    {"C", kPrinterC, 4800, 6780, false},
    {"Z", kPrinterZ, 4736, 6780, true},
    {"M", kPrinterM, 4736, 6784, false},
};
void PrintTo(const CollectorCase& c, std::ostream* os) { *os << c.tag; }

class CollectingBuffer : public testing::TestWithParam<CollectorCase> {};

TEST_P(CollectingBuffer, PageIsSentWithoutImageAndReported) {
  const CollectorCase& c = GetParam();
  const Job job = TwoPageJob(c.printer, LargePage(595, 842, 600));
  // Raw bitmap of what is compressed at once; the buffer is about twice that. The window leaves
  // out the page buffers (the grey page, eight times the raw page; the bitmap, the raw page
  // rounded up to 2 MiB; one raster line; on Z the page's output buffer of about 3.3 bands) and
  // everything the small page 1 needs.
  const double raw = static_cast<double>((c.imageWidth + 7) / 8) * (c.banded ? 256 : c.imageHeight);
  const size_t low = static_cast<size_t>(std::floor(1.25 * raw)), high = static_cast<size_t>(std::ceil(3.0 * raw));
  const Runs runs = RunBesideFaultFree(job, RefusingSizes(low, high), job);
  const Outcome& o = runs.faulty;
  const Outcome& ref = runs.clean;
  ASSERT_EQ(ref.run.exit_status, 0) << Describe(ref);
  ASSERT_EQ(ref.stream.pages.size(), 2u) << Describe(ref);

  Findings f;
  f.Expect(Has(o.run.err, "DEBUG: fault shim: refused "),
           "no malloc-family call of " + std::to_string(low) + " to " + std::to_string(high) +
               " bytes (about twice the raw " + (c.banded ? "band" : "page") + " of " +
               std::to_string(static_cast<long long>(raw)) + " bytes) was made: the collecting buffer was not "
               "reserved with malloc before the encoder ran");
  ExpectExit(&f, o, 1);
  ExpectErrorLines(&f, o, {"ERROR: Page 2 was printed incomplete: its image could not be compressed"});
  ExpectReady(&f, o, false);
  ExpectNoLeftovers(&f, o);
  f.Expect(o.stream.pages.size() == 2, std::to_string(o.stream.pages.size()) + " pages, not 2");
  if (o.stream.pages.size() == 2) {
    f.Expect(SamePicture(o.stream.pages[0], ref.stream.pages[0]), "page 1 is not the page of the fault-free job");
    // Only page 2's image may be missing: the defects lie within its records.
    const size_t from = o.stream.pages[1].offset;
    const size_t to = std::min(ItemOffset(o.stream, c.printer.tag[0] == 'M' ? "END_DOC_CMD" : "resetCmd"),
                               o.stream.streamBytes);
    long outside = FirstDefectOutside(o.stream, from, to);
    f.Expect(outside < 0, outside < 0 ? "" : "a defect outside page 2: " + o.stream.defects[outside].what);
    if (c.banded) {
      // Z: every band record of the page is there, with no data.
      long long bands = 0, empty = 0;
      for (const vi::Item& item : o.stream.items) {
        if (item.offset < from || item.offset >= to || item.name != "bandRecord") continue;
        ++bands;
        if (vi::FieldValue(item.fields, "compDataSize") == 0) ++empty;
      }
      f.Expect(bands == (c.imageHeight + 255) / 256 && empty > 0,
               std::to_string(bands) + " band records on page 2, " + std::to_string(empty) + " of length 0");
    }
  }
  EXPECT_TRUE(f.empty()) << f.Text() << "  (" << Describe(o) << ")";
}

INSTANTIATE_TEST_SUITE_P(A4Page, CollectingBuffer, testing::ValuesIn(kCollectorCases),
                         [](const testing::TestParamInfo<CollectorCase>& info) { return std::string(info.param.tag); });

}  // namespace
}  // namespace fault
