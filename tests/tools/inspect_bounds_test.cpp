// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Crafted streams whose lengths and sizes point past the input or past what a page can be: the
// inspector names the damage and reads nothing beyond the bytes it was given (these tests run
// under AddressSanitizer, and every stream is copied into a buffer of exactly its size).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "stream_builder.h"
#include "stream_inspect.h"
#include "test_support.h"

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
