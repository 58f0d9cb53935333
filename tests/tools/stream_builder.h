// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Printer streams of the three platforms, assembled piece by piece from the record layouts so
// that a test can damage one piece (and fix or keep its checksum) before joining them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace stream_test {

using Bytes = std::vector<uint8_t>;

struct Piece {
  std::string name;  // record name, "sep" for a filler pair, "data" for JBIG data, ...
  Bytes bytes;
};
using Pieces = std::vector<Piece>;

// A bit plane: `width` bits per row, rows padded to whole bytes, 1 = black.
struct Plane {
  unsigned width = 0;
  unsigned height = 0;
  Bytes rows;
  size_t Stride() const { return (width + 7) / 8; }
};

// Patterned plane; `noise` makes it compress badly.
Plane MakePlane(unsigned width, unsigned height, unsigned seed, bool noise = false);
// A whole JBIG image made by libjbig's encoder.
Bytes EncodeJbig(const Plane& plane, unsigned long l0, int order, int options, int mx);
Plane Rows(const Plane& plane, unsigned first, unsigned count);
// The C and Z raster-image record of a whole image of plane's size, sent in rasW x rasH parts.
Bytes RasterImageRecord(const Plane& plane, unsigned rasW, unsigned rasH, uint32_t compressed);

struct PageSpec {
  Plane plane;
  unsigned paper = 9;
  unsigned copies = 1;
  unsigned feedEdge = 0;
  unsigned bitsPerPixel = 1;  // M only: 2 means plane.width is twice the pixel width
};

Pieces StreamC(const std::vector<PageSpec>& pages, unsigned stripeLines = 16);
Pieces StreamZ(const std::vector<PageSpec>& pages);
// M data are cut into commands of at most `chunk` bytes.
Pieces StreamM(const std::vector<PageSpec>& pages, size_t chunk = 65536);

Bytes Join(const Pieces& pieces);
// Index of the n-th piece (from 0) with that name; -1 when there is none.
int Find(const Pieces& pieces, const std::string& name, int n = 0);
// Byte offset of a piece in the joined stream.
size_t OffsetOf(const Pieces& pieces, int index);
// Recomputes the trailing checksum of a short record.
void FixChecksum(Bytes* record);
void PutLe32(Bytes* bytes, size_t at, uint32_t value);
void PutBe32(Bytes* bytes, size_t at, uint32_t value);

}  // namespace stream_test
