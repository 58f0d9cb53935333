// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// The stream inspector against streams assembled from the record layouts: clean streams of every
// platform decode to the bitmaps they were made from, and each kind of damage is found and named.
#include <gtest/gtest.h>

#include <functional>

#include "stream_builder.h"
#include "stream_inspect.h"
#include "test_support.h"

namespace {

using namespace stream_test;
using varnel_inspect::FieldValue;
using varnel_inspect::InspectResult;
using varnel_inspect::InspectStream;
using varnel_inspect::Platform;

std::string DefectText(const InspectResult& result) { return varnel_inspect::FormatDefects(result); }

PageSpec Page(unsigned width, unsigned height, unsigned seed, bool noise = false) {
  PageSpec page;
  page.plane = MakePlane(width, height, seed, noise);
  return page;
}

Pieces Build(Platform platform, const std::vector<PageSpec>& pages) {
  if (platform == Platform::C) return StreamC(pages);
  if (platform == Platform::Z) return StreamZ(pages);
  return StreamM(pages);
}

struct CleanCase {
  const char* name;
  Platform platform;
  std::vector<PageSpec> pages;
};

void PrintTo(const CleanCase& c, std::ostream* out) { *out << c.name; }

class CleanStream : public ::testing::TestWithParam<CleanCase> {};

TEST_P(CleanStream, PassesAndDecodesToTheInputBitmaps) {
  const CleanCase& c = GetParam();
  InspectResult result = InspectStream(Join(Build(c.platform, c.pages)));
  EXPECT_TRUE(result.Clean()) << DefectText(result);
  EXPECT_EQ(result.platform, c.platform);
  ASSERT_EQ(result.pages.size(), c.pages.size());
  for (size_t i = 0; i < c.pages.size(); ++i) {
    const varnel_inspect::Page& page = result.pages[i];
    const Plane& input = c.pages[i].plane;
    SCOPED_TRACE("page " + std::to_string(i + 1));
    ASSERT_TRUE(page.decoded);
    EXPECT_EQ(page.plane.width, input.width);
    EXPECT_EQ(page.plane.height, input.height);
    EXPECT_TRUE(page.plane.rows == input.rows);
    EXPECT_EQ(page.bitsPerPixel, c.pages[i].bitsPerPixel);
    EXPECT_EQ(page.pixelWidth, input.width / c.pages[i].bitsPerPixel);
    EXPECT_EQ(FieldValue(page.fields, "paperSize"), c.pages[i].paper);
    EXPECT_EQ(FieldValue(page.fields, "copies"), c.pages[i].copies);
  }
}

PageSpec TwoBitPage() {
  PageSpec page = Page(96, 40, 5);
  page.bitsPerPixel = 2;
  return page;
}

PageSpec WithPaper(PageSpec page, unsigned paper, unsigned copies) {
  page.paper = paper;
  page.copies = copies;
  return page;
}

INSTANTIATE_TEST_SUITE_P(
    Platforms, CleanStream,
    ::testing::Values(CleanCase{"C_one_page", Platform::C, {Page(64, 40, 1)}},
                      CleanCase{"C_two_pages", Platform::C, {Page(72, 33, 2), WithPaper(Page(64, 16, 3), 4, 2)}},
                      CleanCase{"Z_600_lines_three_bands", Platform::Z, {Page(48, 600, 4)}},
                      CleanCase{"Z_512_lines_two_bands", Platform::Z, {Page(40, 512, 5), Page(40, 100, 6)}},
                      CleanCase{"M_one_bit", Platform::M, {WithPaper(Page(64, 50, 7), 0x1A, 3)}},
                      CleanCase{"M_two_bit", Platform::M, {TwoBitPage()}},
                      CleanCase{"M_data_over_64KiB", Platform::M, {Page(1024, 700, 8, true)}}),
    [](const ::testing::TestParamInfo<CleanCase>& info) { return std::string(info.param.name); });

TEST(CleanStream, MDataOver64KiBIsSplitIntoFullCommands) {
  Pieces pieces = StreamM({Page(1024, 700, 8, true)});
  ASSERT_GE(Find(pieces, "JBIG_DATA_CMD", 1), 0) << "the page must need two data commands";
  EXPECT_EQ(pieces[Find(pieces, "data", 0)].bytes.size(), 65536u);
}

// Keep-alive pairs may fall between any two records of the C and Z platforms.
TEST(CleanStream, ExtraFillerPairsBetweenRecordsAreAccepted) {
  for (Platform platform : {Platform::C, Platform::Z}) {
    Pieces pieces = Build(platform, {Page(64, 300, 9)});
    Pieces padded;
    for (const Piece& piece : pieces) {
      padded.push_back(piece);
      if (piece.name == "formFeedCmd" || piece.name == "cmdJobSpec" || piece.name == "cmdCoverage")
        padded.push_back({"sep", {0, 0}});
    }
    InspectResult result = InspectStream(Join(padded));
    EXPECT_TRUE(result.Clean()) << varnel_inspect::PlatformName(platform) << "\n" << DefectText(result);
  }
}

struct DefectCase {
  const char* name;
  Platform platform;
  std::function<void(Pieces*)> damage;
  const char* expected;  // text that a defect must contain
};

void PrintTo(const DefectCase& c, std::ostream* out) { *out << c.name; }

class DamagedStream : public ::testing::TestWithParam<DefectCase> {};

TEST_P(DamagedStream, IsRejectedWithTheDefectNamed) {
  const DefectCase& c = GetParam();
  Pieces pieces = Build(c.platform, {Page(64, 300, 11), Page(64, 40, 12)});
  c.damage(&pieces);
  InspectResult result = InspectStream(Join(pieces));
  EXPECT_FALSE(result.Clean());
  EXPECT_NE(DefectText(result).find(c.expected), std::string::npos) << DefectText(result);
}

Piece& At(Pieces* p, const std::string& name, int n = 0) {
  int index = Find(*p, name, n);
  if (index < 0) throw std::runtime_error("no piece " + name);
  return (*p)[index];
}

void Erase(Pieces* p, const std::string& name, int n = 0) { p->erase(p->begin() + Find(*p, name, n)); }

void InsertInside(Pieces* p, const std::string& name, size_t at, int n = 0) {
  Bytes& bytes = At(p, name, n).bytes;
  bytes.insert(bytes.begin() + at, {0, 0});
}

void SwapPieces(Pieces* p, const std::string& a, const std::string& b) {
  std::swap(At(p, a), At(p, b));
}

void Truncate(Pieces* p, const std::string& name, size_t keep, int n = 0) {
  int index = Find(*p, name, n);
  (*p)[index].bytes.resize(keep);
  p->erase(p->begin() + index + 1, p->end());
}

INSTANTIATE_TEST_SUITE_P(
    Defects, DamagedStream,
    ::testing::Values(
        DefectCase{"bad_record_checksum", Platform::C, [](Pieces* p) { At(p, "cmdDensity").bytes[4] ^= 0x55; },
                   "record checksum"},
        DefectCase{"bad_record_checksum_Z", Platform::Z, [](Pieces* p) { At(p, "bandRecord", 1).bytes[47]++; },
                   "record checksum"},
        DefectCase{"bad_C_image_checksum", Platform::C,
                   [](Pieces* p) {
                     Bytes& r = At(p, "cmdImageDataChecksum", 1).bytes;
                     r[3]++;
                     FixChecksum(&r);
                   },
                   "C image checksum"},
        DefectCase{"wrong_order_C", Platform::C, [](Pieces* p) { SwapPieces(p, "cmdTonerSave", "cmdDensity"); },
                   "wrong order: cmdDensity"},
        DefectCase{"wrong_order_Z_form_feed_missing", Platform::Z, [](Pieces* p) { Erase(p, "formFeedCmd"); },
                   "wrong order: cmdPageSpec"},
        DefectCase{"wrong_order_M", Platform::M, [](Pieces* p) { SwapPieces(p, "JBIG_END_CMD", "END_PAGE_CMD"); },
                   "wrong order: END_PAGE_CMD"},
        DefectCase{"missing_separator", Platform::C, [](Pieces* p) { p->erase(p->begin() + Find(*p, "cmdTonerSave") - 1); },
                   "missing filler pair 00 00 before cmdTonerSave"},
        DefectCase{"band_length_too_long", Platform::Z,
                   [](Pieces* p) {
                     Bytes& r = At(p, "bandRecord").bytes;
                     PutLe32(&r, 23, r[23] + (r[24] << 8) + 10);
                     PutLe32(&r, 27, r[23] + (r[24] << 8));
                     FixChecksum(&r);
                   },
                   "the record announces"},
        DefectCase{"band_length_too_short", Platform::Z,
                   [](Pieces* p) {
                     Bytes& r = At(p, "bandRecord", 1).bytes;
                     PutLe32(&r, 23, r[23] + (r[24] << 8) - 3);
                     PutLe32(&r, 27, r[23] + (r[24] << 8));
                     FixChecksum(&r);
                   },
                   "the record announces"},
        DefectCase{"band_posVert", Platform::Z,
                   [](Pieces* p) {
                     Bytes& r = At(p, "bandRecord", 1).bytes;
                     PutLe32(&r, 35, 255);
                     FixChecksum(&r);
                   },
                   "posVert is 255, should be 256"},
        DefectCase{"band_height", Platform::Z,
                   [](Pieces* p) {
                     Bytes& r = At(p, "bandRecord", 1).bytes;
                     PutLe32(&r, 15, 40);
                     FixChecksum(&r);
                   },
                   "height is 40, should be 44"},
        DefectCase{"Z_raster_image_with_byte_count", Platform::Z,
                   [](Pieces* p) {
                     Bytes& r = At(p, "cmdRasterImage", 1).bytes;
                     PutLe32(&r, 13, 77);
                     FixChecksum(&r);
                   },
                   "raster-image compressedImageBytes is 77, should be 0"},
        DefectCase{"band_missing", Platform::Z,
                   [](Pieces* p) {
                     Erase(p, "bandRecord", 1);
                     Erase(p, "data", 1);
                   },
                   "has 1 bands, its height 300 needs 2"},
        DefectCase{"Z_coverage", Platform::Z,
                   [](Pieces* p) {
                     Bytes& r = At(p, "cmdCoverage").bytes;
                     r[3] ^= 1;
                     FixChecksum(&r);
                   },
                   "coverage record says"},
        DefectCase{"M_length_mismatch", Platform::M, [](Pieces* p) { PutBe32(&At(p, "END_PAGE_CMD").bytes, 0, 20); },
                   "M length mismatch: END_PAGE_CMD has cmdLen 20"},
        DefectCase{"M_start_page_length", Platform::M,
                   [](Pieces* p) { PutBe32(&At(p, "START_PAGE_CMD", 1).bytes, 0, 220); },
                   "M length mismatch: START_PAGE_CMD"},
        DefectCase{"M_data_length", Platform::M,
                   [](Pieces* p) {
                     Bytes& h = At(p, "JBIG_DATA_CMD").bytes;
                     PutBe32(&h, 0, h[2] * 256 + h[3] - 5);
                   },
                   "JBIG data of page 1"},
        DefectCase{"M_short_data_command_not_last", Platform::M,
                   [](Pieces* p) { *p = StreamM({Page(64, 300, 11)}, 100); },
                   "before the last one"},
        DefectCase{"filler_inside_record", Platform::C, [](Pieces* p) { InsertInside(p, "cmdPageSpec", 9, 1); },
                   "filler pair 00 00 inside the record"},
        DefectCase{"filler_inside_band_record", Platform::Z, [](Pieces* p) { InsertInside(p, "bandRecord", 30); },
                   "filler pair 00 00 inside the record"},
        DefectCase{"filler_inside_jbig_data", Platform::C, [](Pieces* p) { InsertInside(p, "data", 40); },
                   "filler pair 00 00 inside the JBIG data"},
        DefectCase{"filler_in_M_stream", Platform::M,
                   [](Pieces* p) { p->insert(p->begin() + Find(*p, "END_PAGE_CMD"), Piece{"sep", {0, 0}}); },
                   "filler pair 00 00 in an M stream"},
        DefectCase{"truncated_in_jbig_data", Platform::C, [](Pieces* p) { Truncate(p, "data", 30, 1); },
                   "stream truncated inside JBIG data"},
        DefectCase{"truncated_in_record", Platform::Z, [](Pieces* p) { Truncate(p, "bandRecord", 20, 1); },
                   "stream truncated inside a record"},
        DefectCase{"truncated_M", Platform::M, [](Pieces* p) { Truncate(p, "data", 10, 0); },
                   "stream truncated inside JBIG_DATA_CMD"},
        DefectCase{"end_of_document_missing", Platform::Z, [](Pieces* p) { Truncate(p, "resetCmd", 4); },
                   "stream ends after resetCmd before the end of the document"},
        DefectCase{"unknown_record", Platform::Z,
                   [](Pieces* p) {
                     Bytes& r = At(p, "cmdFineMode").bytes;
                     r[2] = 0x77;
                     FixChecksum(&r);
                   },
                   "unknown record: command 0x77"},
        DefectCase{"bad_job_time", Platform::Z,
                   [](Pieces* p) { At(p, "pjlSendTime").bytes[15] = 'x'; }, "is not mm:hh:dd:MM:yyyy"}),
    [](const ::testing::TestParamInfo<DefectCase>& info) { return std::string(info.param.name); });

TEST(Inspect, RejectsStreamsOfNoPlatform) {
  for (const std::string& text : {std::string(), std::string("%!PS-Adobe-3.0\n"), std::string("\x1b%-12345X", 9)}) {
    InspectResult result = InspectStream(Bytes(text.begin(), text.end()));
    EXPECT_EQ(result.platform, Platform::Unknown);
    EXPECT_FALSE(result.Clean());
  }
}

TEST(Inspect, ImagesAboveTheBitmapLimitAreReportedNotDecoded) {
  Bytes stream = Join(StreamC({Page(64, 40, 1)}));
  varnel_inspect::InspectLimits limits;
  limits.maxImageBytes = 64 * 40 / 8;
  EXPECT_TRUE(InspectStream(stream, limits).Clean());
  limits.maxImageBytes -= 1;
  InspectResult result = InspectStream(stream, limits);
  ASSERT_FALSE(result.defects.empty());
  EXPECT_NE(result.defects[0].what.find("JBIG header size 64 x 40 is not plausible"), std::string::npos)
      << DefectText(result);
  ASSERT_EQ(result.pages.size(), 1u);
  EXPECT_FALSE(result.pages[0].decoded);
}

TEST(Inspect, DecodesDocumentFields) {
  InspectResult c = InspectStream(Join(StreamC({Page(64, 40, 1)})));
  EXPECT_EQ(FieldValue(c.document.fields, "jobID"), 42);
  EXPECT_EQ(FieldValue(c.document.fields, "jobFlags"), 0x30);
  EXPECT_EQ(FieldValue(c.document.fields, "density"), 3);
  EXPECT_EQ(FieldValue(c.document.fields, "year"), 2026);
  InspectResult z = InspectStream(Join(StreamZ({Page(64, 40, 1)})));
  EXPECT_EQ(FieldValue(z.document.fields, "jobID"), 0x539);
  EXPECT_EQ(FieldValue(z.document.fields, "fineMode"), 1);
  ASSERT_EQ(z.document.pjl.size(), 4u);
  EXPECT_EQ(z.document.pjl[2], "@PJL JOBOWNER=testhost");
}

}  // namespace

namespace {

// A keep-alive pair written into a record is reported at the record (the checksum cannot tell
// which of its zero pairs it was), one written into a data block at the pair itself; the rest
// of the stream is still read correctly.
TEST(Inspect, FillerInsideRecordOrDataIsLocatedAndTheStreamRecovers) {
  struct Case {
    Platform platform;
    const char* piece;
    int n;
    size_t at;
  } cases[] = {{Platform::C, "cmdPageSpec", 0, 3},
               {Platform::C, "data", 0, 30},
               {Platform::Z, "data", 1, 25},
               {Platform::Z, "bandRecord", 0, 22}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(varnel_inspect::PlatformName(c.platform)) + " " + c.piece);
    std::vector<PageSpec> pages = {Page(64, 300, 21)};
    Pieces pieces = Build(c.platform, pages);
    int index = Find(pieces, c.piece, c.n);
    ASSERT_GE(index, 0);
    // The pair is placed where the bytes around it are not themselves zero, so that its
    // position is unambiguous.
    Bytes& bytes = pieces[index].bytes;
    size_t at = c.at;
    while (at < bytes.size() && (bytes[at - 1] == 0 || bytes[at] == 0)) ++at;
    ASSERT_LT(at, bytes.size());
    bytes.insert(bytes.begin() + at, {0, 0});
    InspectResult result = InspectStream(Join(pieces));
    ASSERT_EQ(result.defects.size(), 1u) << DefectText(result);
    bool data = std::string(c.piece) == "data";
    EXPECT_EQ(result.defects[0].offset, OffsetOf(pieces, index) + (data ? at : 0));
    EXPECT_NE(result.defects[0].what.find("filler pair 00 00 inside"), std::string::npos);
    ASSERT_EQ(result.pages.size(), 1u);
    ASSERT_TRUE(result.pages[0].decoded);
    EXPECT_TRUE(result.pages[0].plane.rows == pages[0].plane.rows);
  }
}

const std::string kInspector = varnel_test::BuildPath("tools/varnel-inspect/varnel-inspect");

std::string AsText(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

TEST(InspectProgram, SummaryAndExitStatusOfCleanAndDamagedStreams) {
  Pieces pieces = StreamC({WithPaper(Page(64, 40, 1), 4, 2)});
  varnel_test::RunOptions options;
  options.stdin_data = AsText(Join(pieces));
  varnel_test::ProcessResult clean = varnel_test::RunProgram(kInspector, {"--summary"}, options);
  EXPECT_EQ(clean.exit_status, 0) << clean.out << clean.err;
  EXPECT_NE(clean.out.find("stream platform=C "), std::string::npos) << clean.out;
  EXPECT_NE(clean.out.find("job platform=C jobID=42 jobFlags=48 "), std::string::npos) << clean.out;
  EXPECT_NE(clean.out.find("page platform=C index=1 offset="), std::string::npos) << clean.out;
  EXPECT_NE(clean.out.find(" pageNum=1 paper=4 copies=2 media=0 tray=1 resX=60 resY=60 feedEdge=0 width=64 "
                           "height=40 planeWidth=64 bpp=1 decoded=1\n"),
            std::string::npos)
      << clean.out;
  EXPECT_NE(clean.out.find("result clean defects=0\n"), std::string::npos) << clean.out;

  At(&pieces, "cmdDensity").bytes[4]++;
  options.stdin_data = AsText(Join(pieces));
  varnel_test::ProcessResult damaged = varnel_test::RunProgram(kInspector, {"-s", "-"}, options);
  EXPECT_EQ(damaged.exit_status, 1);
  size_t offset = OffsetOf(pieces, Find(pieces, "cmdDensity")) + 4;
  EXPECT_NE(damaged.out.find("defect offset=" + std::to_string(offset) + " what=record checksum"), std::string::npos)
      << damaged.out;
  EXPECT_NE(damaged.out.find("result defective defects=1\n"), std::string::npos) << damaged.out;
}

// Every zero pair in a damaged data block is a candidate for a misplaced keep-alive pair, and
// each try decodes the whole image. Six pages of large images that lack their last stripe, with
// two zero pairs in every stripe, made the inspector try 288 full-page decodes (about a minute,
// several under the sanitizers); the tries now share one budget, and each page is still
// reported as damaged.
TEST(InspectProgram, DamagedLargeImagesFullOfZeroPairsAreReportedWithoutEndlessRepairTries) {
  constexpr unsigned kWidth = 6656, kHeight = 9472, kStripeLines = 384, kPages = 6;
  Bytes image(20, 0);  // the JBIG header: one plane, size, stripe height, TPBON
  image[2] = 1;
  PutBe32(&image, 4, kWidth);
  PutBe32(&image, 8, kHeight);
  PutBe32(&image, 12, kStripeLines);
  image[16] = 8;
  image[19] = 8;
  unsigned seed = 1;
  for (unsigned stripe = 0; stripe + 1 < (kHeight + kStripeLines - 1) / kStripeLines; ++stripe) {
    for (int part = 0; part < 3; ++part) {
      for (int i = 0; i < 6; ++i) {
        seed = seed * 1103515245 + 12345;
        image.push_back(static_cast<uint8_t>(1 + (seed >> 16) % 250));
      }
      image.insert(image.end(), {0, 0});
    }
    image[image.size() - 2] = 0xFF;  // the last pair becomes the stripe's end marker FF 02
    image.back() = 0x02;
  }
  Pieces pieces = StreamC(std::vector<PageSpec>(kPages, Page(64, 16, 3)));
  Plane large;
  large.width = kWidth;
  large.height = kHeight;
  for (unsigned n = 0; n < kPages; ++n) {
    At(&pieces, "cmdRasterImage", n).bytes = RasterImageRecord(large, kWidth, kStripeLines, image.size());
    At(&pieces, "data", n).bytes = image;
  }
  varnel_test::RunOptions options;
  options.stdin_data = AsText(Join(pieces));
  options.timeout_ms = 30000;
  varnel_test::ProcessResult run = varnel_test::RunProgram(kInspector, {"-"}, options);
  ASSERT_FALSE(run.timed_out);
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(run.out.find("filler pair"), std::string::npos) << run.out;
  size_t reported = 0;
  for (size_t at = run.out.find("decoder error"); at != std::string::npos; at = run.out.find("decoder error", at + 1))
    ++reported;
  EXPECT_EQ(reported, kPages) << run.out;
}

TEST(InspectProgram, ListsItemsAndWritesPagePictures) {
  varnel_test::TempDir dir;
  PageSpec twoBit = TwoBitPage();
  varnel_test::WriteFile(dir.File("m.prn"), AsText(Join(StreamM({Page(64, 50, 7), twoBit}))));
  varnel_test::ProcessResult run =
      varnel_test::RunProgram(kInspector, {"--pages", dir.File("pages"), dir.File("m.prn")});
  EXPECT_EQ(run.exit_status, 0) << run.out << run.err;
  EXPECT_NE(run.out.find("command START_PAGE_CMD cmdLen=184 cmdType=2 cmdParamNumber=14"), std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("param   VIDEO_DEPTH_PARAM paramCmd=16 paramType=1 value=2"), std::string::npos) << run.out;
  EXPECT_EQ(varnel_test::ListFiles(dir.File("pages")),
            (std::vector<std::string>{"page-001.pbm", "page-001.png", "page-002.pbm", "page-002.png"}));
  std::string pbm = varnel_test::ReadFile(dir.File("pages/page-002.pbm"));
  std::string header = "P4\n96 40\n";
  ASSERT_EQ(pbm.compare(0, header.size(), header), 0) << "the PBM of a 2-bit page is its double-width plane";
  EXPECT_EQ(pbm.substr(header.size()), AsText(twoBit.plane.rows));
  std::string png = varnel_test::ReadFile(dir.File("pages/page-002.png"));
  ASSERT_GT(png.size(), 26u);
  EXPECT_EQ(png.compare(1, 3, "PNG"), 0);
  // IHDR: width 48 pixels, height 40, bit depth 2, grey.
  EXPECT_EQ(png.substr(16, 10), std::string("\0\0\0\x30\0\0\0\x28\x02\x00", 10));
}

TEST(InspectProgram, UsageErrorsAndHelp) {
  varnel_test::ProcessResult help = varnel_test::RunProgram(kInspector, {"--help"});
  EXPECT_EQ(help.exit_status, 0);
  EXPECT_NE(help.out.find("--summary"), std::string::npos);
  EXPECT_EQ(varnel_test::RunProgram(kInspector, {"--bogus"}).exit_status, 2);
  EXPECT_EQ(varnel_test::RunProgram(kInspector, {"/nonexistent/stream.prn"}).exit_status, 2);
}

}  // namespace

namespace {

// A stream cut anywhere is never taken for a complete one.
TEST(Inspect, StreamCutAtAnyOffsetIsDefective) {
  for (Platform platform : {Platform::C, Platform::Z, Platform::M}) {
    Bytes stream = Join(Build(platform, {Page(32, 260, 31)}));
    for (size_t keep = 0; keep < stream.size(); ++keep) {
      InspectResult result = InspectStream(stream.data(), keep);
      ASSERT_FALSE(result.Clean()) << varnel_inspect::PlatformName(platform) << " cut at " << keep;
    }
  }
}

}  // namespace

namespace {

Bytes TonerRecord(uint8_t length, std::vector<uint8_t> values) {
  Bytes r(3 + values.size(), 0);
  r[0] = 0x0B, r[1] = length, r[2] = 0x1E;
  std::copy(values.begin(), values.end(), r.begin() + 3);
  r.resize(length, 0);
  FixChecksum(&r);
  return r;
}

// The two Z toner-parameter records carry fixed tables; one changed byte is named.
TEST(Inspect, ZTonerRecordsAreComparedWithTheirTables) {
  std::vector<uint8_t> k5916 = {0, 30, 36, 38, 47, 80, 6, 32, 32, 32, 40, 44};
  k5916.insert(k5916.end(), 18, 32);
  k5916.insert(k5916.end(), {10, 0});
  std::vector<uint8_t> t9366 = {0, 23, 38, 0, 48, 64, 32, 23, 32, 32, 0, 0};
  t9366.insert(t9366.end(), 17, 32);
  t9366.insert(t9366.end(), {8, 10});
  std::vector<uint8_t> k5916Changed = k5916;
  k5916Changed[4] = 81;
  struct Case {
    Bytes record;
    const char* defect;  // empty: clean
  } cases[] = {{TonerRecord(36, k5916), ""},
               {TonerRecord(40, t9366), ""},
               {TonerRecord(36, k5916Changed), "cmdTonerParamK5916 byte 7 is 81, its table has 47"}};
  for (const Case& c : cases) {
    Pieces pieces = StreamZ({Page(32, 20, 1)});
    int density = Find(pieces, "cmdDensity");
    pieces.insert(pieces.begin() + density + 2, {"toner", c.record});
    pieces.insert(pieces.begin() + density + 3, {"sep", {0, 0}});
    InspectResult result = InspectStream(Join(pieces));
    if (*c.defect == '\0') {
      EXPECT_TRUE(result.Clean()) << DefectText(result);
      EXPECT_EQ(FieldValue(result.document.fields, "tonerParamBytes"), static_cast<long long>(c.record.size()));
    } else {
      EXPECT_NE(DefectText(result).find(c.defect), std::string::npos) << DefectText(result);
    }
  }
}

}  // namespace
