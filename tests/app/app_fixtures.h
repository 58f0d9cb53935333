// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Documents for the Printer Application's tests and the reference they are checked against: the
// same pages through the raster filter with the job options a CUPS queue would pass for the same
// job, so that both programs must make the same stream.
#pragma once

#include <cups/raster.h>

#include <cstdint>
#include <string>
#include <vector>

#include "stream_inspect.h"
#include "test_support.h"

namespace varnel_test {

// An A4 (or other PWG size) 8-bit grey page of the given resolution, as PAPPL and phones make
// PWG raster headers, with a pattern that differs per page: a black bar, a grey ramp, a frame.
RasterPage PatternPage(const char* pwg_size, unsigned dpi, int page_number, const char* type = "sgray_8");
// Writes the pages as PWG raster (image/pwg-raster).
void WritePwgRaster(const std::string& path, const std::vector<RasterPage>& pages);

// An image of an A4 page at the resolution, black on its left half, white on the right, as
// PNG ("pnggray") or JPEG ("jpeggray") made by Ghostscript. false when that fails.
bool HalfBlackImage(const std::string& path, const char* device, int dpi);

// The job options of a CUPS queue for the same job (sides, darkness as density, collation).
struct QueueJob {
  std::string driver;     // the model's driver (= its PPD's file name without ".ppd")
  int job_id = 1;
  std::string title;
  unsigned copies = 1;
  std::string sides = "one-sided";
  int density = 2;
  bool dpi1200 = false;   // the 1200-dpi mode (print-quality=high)
};

// The raster the print core gets from the application for a raster file's pages: page sizes of
// the paper table, the job's copies and duplex, grey samples; written as a CUPS raster.
bool WriteQueueRaster(const std::string& in, const std::string& out, const QueueJob& job);
// The raster filter's stream for that raster with the queue's options. Empty on failure (the
// filter's messages then go to *log).
std::vector<uint8_t> FilterStream(const std::string& raster, const QueueJob& job, std::string* log);

// "" when the two streams are clean and the same byte for byte, but for the job time and the
// date records (they tell when the stream was made); else what differs first.
std::string StreamDifference(const std::vector<uint8_t>& app, const std::vector<uint8_t>& reference);

// Share of black pixels in the columns [from, to) of a decoded page plane.
double InkShare(const varnel_inspect::Bitmap& plane, unsigned from, unsigned to);

std::vector<uint8_t> Bytes(const std::string& text);

}  // namespace varnel_test
