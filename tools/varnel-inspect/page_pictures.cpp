// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Page pictures: PBM of the bit plane as sent, PNG of what the printer prints.
#include <png.h>

#include <cstdio>
#include <memory>
#include <vector>

#include "stream_inspect.h"

namespace varnel_inspect {

namespace {

struct FileCloser {
  void operator()(FILE* file) const { fclose(file); }
};
using File = std::unique_ptr<FILE, FileCloser>;

File OpenForWriting(const std::string& path, std::string* error) {
  File file(fopen(path.c_str(), "wb"));
  if (!file) *error = "cannot create " + path;
  return file;
}

// libpng reports fatal errors by longjmp; everything it touches is owned by this struct.
struct PngWriter {
  png_structp png = nullptr;
  png_infop info = nullptr;
  PngWriter() {
    png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (png) info = png_create_info_struct(png);
  }
  ~PngWriter() { png_destroy_write_struct(&png, info ? &info : nullptr); }
  PngWriter(const PngWriter&) = delete;
  PngWriter& operator=(const PngWriter&) = delete;
};

// In a PNG grey image 0 is black, in the plane 1 is black: the rows are inverted. A 2-bit page
// keeps its packing: inverted, level 3 (black) becomes grey 0 and level 0 (white) grey 3.
bool WritePngRows(FILE* file, unsigned width, unsigned height, int depth, const std::vector<uint8_t>& rows,
                  size_t stride) {
  PngWriter writer;
  if (!writer.png || !writer.info) return false;
  std::vector<uint8_t> row(stride);
  if (setjmp(png_jmpbuf(writer.png))) return false;
  png_init_io(writer.png, file);
  png_set_IHDR(writer.png, writer.info, width, height, depth, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(writer.png, writer.info);
  for (unsigned y = 0; y < height; ++y) {
    for (size_t x = 0; x < stride; ++x) row[x] = static_cast<uint8_t>(~rows[y * stride + x]);
    png_write_row(writer.png, row.data());
  }
  png_write_end(writer.png, writer.info);
  return true;
}

}  // namespace

bool WritePbm(const std::string& path, const Bitmap& plane, std::string* error) {
  if (plane.rows.size() != plane.Stride() * plane.height) {
    *error = "no bit plane for " + path;
    return false;
  }
  File file = OpenForWriting(path, error);
  if (!file) return false;
  fprintf(file.get(), "P4\n%u %u\n", plane.width, plane.height);
  if (!plane.rows.empty() && fwrite(plane.rows.data(), plane.rows.size(), 1, file.get()) != 1) {
    *error = "cannot write " + path;
    return false;
  }
  if (fflush(file.get()) != 0) {
    *error = "cannot write " + path;
    return false;
  }
  return true;
}

bool WritePng(const std::string& path, const Page& page, std::string* error) {
  const Bitmap& plane = page.plane;
  if (plane.width == 0 || plane.height == 0 || plane.rows.size() != plane.Stride() * plane.height) {
    *error = "page " + std::to_string(page.index) + " has no image";
    return false;
  }
  bool twoBit = page.bitsPerPixel == 2;
  unsigned width = twoBit ? plane.width / 2 : plane.width;
  File file = OpenForWriting(path, error);
  if (!file) return false;
  if (!WritePngRows(file.get(), width, plane.height, twoBit ? 2 : 1, plane.rows, plane.Stride()) ||
      fflush(file.get()) != 0) {
    *error = "cannot write " + path;
    return false;
  }
  return true;
}

bool WritePagePictures(const std::string& folder, const InspectResult& result, std::string* error) {
  for (const Page& page : result.pages) {
    if (!page.decoded || page.plane.rows.empty()) continue;
    char name[32];
    snprintf(name, sizeof name, "/page-%03d", page.index);
    std::string base = folder + name;
    if (!WritePng(base + ".png", page, error) || !WritePbm(base + ".pbm", page.plane, error)) return false;
  }
  return true;
}

}  // namespace varnel_inspect
