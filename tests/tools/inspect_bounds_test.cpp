// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Crafted streams whose lengths and sizes point past the input or past what a page can be: the
// inspector names the damage and reads nothing beyond the bytes it was given (these tests run
// under AddressSanitizer, and every stream is copied into a buffer of exactly its size).
#include <gtest/gtest.h>
#include <malloc.h>

#include <string>
#include <vector>

#include "stream_builder.h"
#include "stream_inspect.h"
#include "test_support.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VARNEL_HAS_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || VARNEL_HAS_ASAN
// AddressSanitizer's own count (its allocator does not show in mallinfo2); GCC has no header.
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace {

using namespace stream_test;
using varnel_inspect::InspectLimits;
using varnel_inspect::InspectResult;
using varnel_inspect::InspectStream;

std::string DefectText(const InspectResult& result) { return varnel_inspect::FormatDefects(result); }

PageSpec Page(unsigned width, unsigned height, unsigned seed) {
  PageSpec page;
  page.plane = MakePlane(width, height, seed);
  return page;
}

// The pieces up to and including the n-th (from 0) one of that name.
Pieces Upto(const Pieces& pieces, const std::string& name, int n = 0) {
  int index = Find(pieces, name, n);
  return Pieces(pieces.begin(), pieces.begin() + index + 1);
}

// A bare JBIG header: one plane, width x height, stripes of l0 lines.
Bytes JbigHeader(uint32_t width, uint32_t height, uint32_t l0) {
  Bytes header(20, 0);
  header[2] = 1;
  PutBe32(&header, 4, width);
  PutBe32(&header, 8, height);
  PutBe32(&header, 12, l0);
  header[16] = 8;
  header[19] = 8;
  return header;
}

// Each case is the smallest stream that showed a fault: the text its report must hold, and,
// when given, the report must not claim a decoded page.
struct CraftedCase {
  const char* name;
  Bytes (*stream)();
  const char* expected;
};

void PrintTo(const CraftedCase& c, std::ostream* out) { *out << c.name; }

class CraftedStream : public ::testing::TestWithParam<CraftedCase> {};

TEST_P(CraftedStream, IsReportedWithoutReadingPastTheInput) {
  const CraftedCase& c = GetParam();
  Bytes bytes = c.stream();
  // An exact-size heap copy, so that AddressSanitizer sees a read one byte past the end.
  std::vector<uint8_t> exact(bytes.begin(), bytes.end());
  exact.shrink_to_fit();
  InspectResult result = InspectStream(exact.data(), exact.size());
  EXPECT_FALSE(result.Clean());
  EXPECT_NE(DefectText(result).find(c.expected), std::string::npos) << DefectText(result);
  for (const varnel_inspect::Page& page : result.pages) EXPECT_FALSE(page.decoded) << "page " << page.index;
}

INSTANTIATE_TEST_SUITE_P(
    Faults, CraftedStream,
    ::testing::Values(
        // M: a JBIG_PARAM_CMD cut short at the end of the stream, behind the page's data. Its
        // 20 header bytes were compared with the data's header, 16 of them past the input.
        CraftedCase{"M_jbig_param_cut_behind_the_data",
                    [] {
                      Pieces m = StreamM({Page(32, 8, 1)});
                      Piece param = m[Find(m, "JBIG_PARAM_CMD")];
                      m.erase(m.begin() + Find(m, "JBIG_PARAM_CMD"));
                      Pieces cut = Upto(m, "data");
                      param.bytes.resize(20);
                      cut.push_back(param);
                      return Join(cut);
                    },
                    "stream truncated inside JBIG_PARAM_CMD"},
        // C: a header announcing one pixel per row and 2^31 rows. Its rows take a byte each,
        // 2 GiB, while width x height / 8 claimed 256 MiB: it was handed to the decoder.
        CraftedCase{"C_image_of_one_pixel_rows",
                    [] {
                      Pieces c = StreamC({Page(8, 8, 2)});
                      Bytes data = JbigHeader(1, 0x80000000u, 128);
                      int record = Find(c, "cmdRasterImage");
                      PutLe32(&c[record].bytes, 13, static_cast<uint32_t>(data.size()));
                      FixChecksum(&c[record].bytes);
                      c[record + 1].bytes = data;
                      return Join(c);
                    },
                    "JBIG header size 1 x 2147483648 is not plausible"}),
    [](const ::testing::TestParamInfo<CraftedCase>& info) { return std::string(info.param.name); });

}  // namespace

namespace {

using varnel_inspect::Platform;

Pieces Build(Platform platform, const std::vector<PageSpec>& pages) {
  if (platform == Platform::C) return StreamC(pages);
  if (platform == Platform::Z) return StreamZ(pages);
  return StreamM(pages);
}

// Heap bytes in use, as the allocator in force counts them.
size_t HeapInUse() {
#if defined(__SANITIZE_ADDRESS__) || VARNEL_HAS_ASAN
  return __sanitizer_get_current_allocated_bytes();
#else
  return mallinfo2().uordblks;
#endif
}

// Without kept planes each page is handed over complete and released before the next one is
// read: the heap in use when the last page is handed over is about what it was at the first,
// while with kept planes it grows by a bitmap per page (which shows that the measure sees it).
TEST(InspectMemory, PagesAreHandedOverOneAtATimeAndReleased) {
  constexpr unsigned kWidth = 1024, kHeight = 1536, kPages = 8;
  constexpr size_t kBitmap = kWidth / 8 * kHeight;
  for (Platform platform : {Platform::C, Platform::Z, Platform::M}) {
    SCOPED_TRACE(varnel_inspect::PlatformName(platform));
    std::vector<PageSpec> pages;
    for (unsigned n = 0; n < kPages; ++n) pages.push_back(Page(kWidth, kHeight, n + 1));
    Bytes stream = Join(Build(platform, pages));
    for (bool keep : {false, true}) {
      SCOPED_TRACE(keep ? "planes kept" : "planes released");
      InspectLimits limits;
      limits.keepPlanes = keep;
      std::vector<size_t> heap;
      std::vector<int> seen;
      InspectResult result = InspectStream(stream.data(), stream.size(), limits, [&](varnel_inspect::Page& page) {
        heap.push_back(HeapInUse());
        seen.push_back(page.index);
        ASSERT_TRUE(page.decoded);
        EXPECT_TRUE(page.plane.rows == pages[page.index - 1].plane.rows) << "page " << page.index;
      });
      EXPECT_TRUE(result.Clean()) << DefectText(result);
      ASSERT_EQ(seen, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8}));
      size_t growth = heap.back() > heap.front() ? heap.back() - heap.front() : 0;
      if (keep) {
        EXPECT_GE(growth, (kPages - 2) * kBitmap);
      } else {
        EXPECT_LT(growth, kBitmap) << "the heap grew by " << growth << " bytes over " << kPages << " pages";
      }
      ASSERT_EQ(result.pages.size(), kPages);
      for (const varnel_inspect::Page& page : result.pages) {
        EXPECT_TRUE(page.decoded);
        EXPECT_EQ(page.plane.width, kWidth);
        EXPECT_EQ(page.plane.height, kHeight);
        EXPECT_EQ(page.plane.rows.size(), keep ? kBitmap : 0u);
      }
    }
  }
}

// A Z page whose bands would stack to more than the bitmap limit is reported and not put
// together, though each band is within the limit. The page under assembly and the band being
// decoded count together.
TEST(InspectMemory, ZPageAboveTheBitmapLimitIsNotStacked) {
  Bytes stream = Join(StreamZ({Page(64, 600, 4)}));
  InspectLimits limits;
  limits.maxImageBytes = 64 / 8 * 600 + 64 / 8 * 256;
  InspectResult whole = InspectStream(stream, limits);
  EXPECT_TRUE(whole.Clean()) << DefectText(whole);
  limits.maxImageBytes -= 1;
  InspectResult noRoomForABand = InspectStream(stream, limits);
  EXPECT_NE(DefectText(noRoomForABand).find("JBIG header size 64 x 256 is not plausible: its bitmap takes 2048 bytes, "
                                            "the limit leaves 2047"),
            std::string::npos)
      << DefectText(noRoomForABand);
  limits.maxImageBytes = 64 / 8 * 600 - 1;
  InspectResult result = InspectStream(stream, limits);
  EXPECT_NE(DefectText(result).find("page 1: its 64 x 600 dots would take 4800 bytes of bitmap, more than the limit "
                                    "of 4799: the bands are not stacked"),
            std::string::npos)
      << DefectText(result);
  ASSERT_EQ(result.pages.size(), 1u);
  EXPECT_FALSE(result.pages[0].decoded);
  EXPECT_TRUE(result.pages[0].plane.rows.empty());
}

// A stream of many tiny items (filler pairs take two bytes each) is read up to the item limit;
// defects beyond their limit are counted, not listed.
TEST(InspectMemory, ItemsAndDefectsAreBounded) {
  Pieces c = StreamC({Page(32, 8, 1)});
  Bytes stream = Join(c);
  const size_t items = InspectStream(stream).items.size();
  stream.insert(stream.end(), 20000, 0);
  InspectLimits limits;
  limits.maxItemBytes = 100000;  // room for fewer than 1000 filler pairs of the 10000
  InspectResult result = InspectStream(stream, limits);
  EXPECT_GT(result.items.size(), items);
  EXPECT_LT(result.items.size(), items + 1000);
  ASSERT_FALSE(result.defects.empty());
  const std::string stop = "the " + std::to_string(result.items.size()) + " items so far take ";
  EXPECT_EQ(result.defects.back().what.compare(0, stop.size(), stop), 0) << DefectText(result);
  EXPECT_NE(result.defects.back().what.find("the limit is 100000: the stream is not inspected beyond offset " +
                                            std::to_string(result.items.back().offset + 2)),
            std::string::npos)
      << DefectText(result);
  EXPECT_EQ(DefectText(result).find("stream ends"), std::string::npos) << DefectText(result);

  // Every filler pair after the end of the job is out of place; only the first defects are
  // listed.
  Bytes damaged = Join(c);
  for (int i = 0; i < 50; ++i) damaged.insert(damaged.end(), {0x0B, 0x04, 0x18, 0xD9});
  limits = InspectLimits();
  limits.maxDefects = 10;
  InspectResult many = InspectStream(damaged, limits);
  ASSERT_EQ(many.defects.size(), 11u) << DefectText(many);
  EXPECT_NE(many.defects.back().what.find("more defects are not listed"), std::string::npos) << DefectText(many);
}

// A page with a long run of checksum records: each is checked against the bytes since the
// raster-image record, which were summed again for every record (minutes for this stream).
TEST(InspectMemory, ManyChecksumRecordsInAPageAreSummedOnce) {
  Pieces c = StreamC({Page(32, 8, 1)});
  int checksum = Find(c, "cmdImageDataChecksum");
  Pieces repeated;
  for (int i = 0; i < 100000; ++i) {
    repeated.push_back({"sep", {0, 0}});
    repeated.push_back(c[checksum]);
  }
  c.insert(c.begin() + checksum + 1, repeated.begin(), repeated.end());
  varnel_test::RunOptions options;
  Bytes stream = Join(c);
  options.stdin_data.assign(stream.begin(), stream.end());
  options.timeout_ms = 30000;
  varnel_test::ProcessResult run =
      varnel_test::RunProgram(varnel_test::BuildPath("tools/varnel-inspect/varnel-inspect"), {"--quiet"}, options);
  ASSERT_FALSE(run.timed_out);
  EXPECT_EQ(run.exit_status, 1);
  // A record with its checksum byte sums to 0 modulo 256, so every record behind the first one
  // still matches the bytes since the raster-image record: only the order is wrong.
  EXPECT_EQ(run.out.find("C image checksum"), std::string::npos) << run.out.substr(0, 2000);
  EXPECT_NE(run.out.find("wrong order: cmdImageDataChecksum"), std::string::npos) << run.out.substr(0, 2000);
}

}  // namespace

namespace {

// Each try at a keep-alive pair inside a data block decodes the whole image again; the tries
// stop when the stream's repair pixels are spent, and the block is then reported as it decodes.
TEST(InspectWork, RepairTriesStopWhenTheirPixelsAreSpent) {
  Pieces c = StreamC({Page(64, 300, 21)});
  Bytes& data = c[Find(c, "data")].bytes;
  size_t at = 30;
  while (data[at - 1] == 0 || data[at] == 0) ++at;
  data.insert(data.begin() + at, {0, 0});
  Bytes stream = Join(c);
  InspectLimits limits;
  limits.maxRepairPixels = 64 * 300 + 1;  // one try of this image
  InspectResult repaired = InspectStream(stream, limits);
  ASSERT_EQ(repaired.defects.size(), 1u) << DefectText(repaired);
  EXPECT_NE(repaired.defects[0].what.find("filler pair 00 00 inside the JBIG data"), std::string::npos);
  EXPECT_TRUE(repaired.pages[0].decoded);
  limits.maxRepairPixels -= 1;
  InspectResult spent = InspectStream(stream, limits);
  EXPECT_EQ(DefectText(spent).find("filler pair"), std::string::npos) << DefectText(spent);
  EXPECT_NE(DefectText(spent).find("JBIG data at offset " + std::to_string(OffsetOf(c, Find(c, "data")))),
            std::string::npos)
      << DefectText(spent);
}

}  // namespace

namespace {

// A START_DOC_CMD that announces 100000 entries, all present: each entry became a document
// field, found by name among those before it (an hour of string compares). Only the first
// entries are taken; the counts are named as wrong.
TEST(InspectWork, CommandWithHugeEntryCountIsReadInLinearTime) {
  Pieces m = StreamM({Page(32, 8, 1)});
  int doc = Find(m, "START_DOC_CMD");
  constexpr uint32_t kEntries = 100000;
  PutBe32(&m[doc].bytes, 0, 16 + 12 * kEntries);
  PutBe32(&m[doc].bytes, 8, kEntries);
  Bytes entries;
  for (uint32_t i = 3; i < kEntries; ++i) entries.insert(entries.end(), {0, 0, 0, 12, 0, 2, 1, 0, 0, 0, 0, 1});
  m.insert(m.begin() + Find(m, "TOTAL_PAGE_PARAM", 2) + 1, {"entries", entries});
  Bytes stream = Join(m);
  varnel_test::RunOptions options;
  options.stdin_data.assign(stream.begin(), stream.end());
  options.timeout_ms = 30000;
  varnel_test::ProcessResult run =
      varnel_test::RunProgram(varnel_test::BuildPath("tools/varnel-inspect/varnel-inspect"), {"--summary"}, options);
  ASSERT_FALSE(run.timed_out);
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_NE(run.out.find("startDocParam0=0 startDocParam1=0 startDocParam2=0 "), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("START_DOC_CMD has 100000 entries, not 3"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("page platform=M index=1 "), std::string::npos) << run.out;
}

}  // namespace
