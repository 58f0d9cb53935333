// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Names and fields of the C and Z short records (0x0B, length, command, fields, checksum).
#include <cstdio>

#include "byte_order.h"
#include "inspect_internal.h"

namespace varnel_inspect {

namespace {

struct RecordKind {
  Platform platform;  // Unknown: both C and Z
  uint8_t command;
  uint8_t length;
  const char* name;
};

const RecordKind kRecordKinds[] = {
    {Platform::C, 0x11, 6, "cmdJobSpec"},
    {Platform::Z, 0x11, 9, "cmdJobSpec"},
    {Platform::Unknown, 0x12, 18, "cmdPageSpec"},
    {Platform::Unknown, 0x13, 12, "cmdCustomPaper"},
    {Platform::Unknown, 0x0C, 18, "cmdRasterImage"},
    {Platform::Unknown, 0x15, 5, "cmdDensity"},
    {Platform::Unknown, 0x16, 4, "abortCmd"},
    {Platform::Unknown, 0x17, 4, "resetCmd"},
    {Platform::Unknown, 0x18, 4, "formFeedCmd"},
    {Platform::C, 0x19, 5, "cmdTonerSave"},
    {Platform::Z, 0x19, 7, "cmdCoverage"},
    {Platform::C, 0x1A, 6, "cmdImageDataChecksum"},
    {Platform::Z, 0x1A, 48, "bandRecord"},
    {Platform::Z, 0x1B, 4, "manualDuplexCmd"},
    {Platform::C, 0x1E, 6, "cmdCoverage"},
    {Platform::Z, 0x1E, 36, "cmdTonerParamK5916"},
    {Platform::Z, 0x1E, 40, "cmdTonerParamT9366"},
    {Platform::Z, 0x1F, 5, "cmdFineMode"},
    {Platform::C, 0x1F, 8, "cmdSysTime"},
    {Platform::C, 0x30, 4, "manualDuplexCmd"},
    {Platform::Unknown, 0x31, 5, "queryStatusCmd"},
    {Platform::C, 0x32, 4, "hostUseCmd"},
    {Platform::Unknown, 0x40, 4, "machineDuplexCmd"},
};

// Constant bytes 3 .. length-2 of the two Z toner-parameter records.
// Offsets 3-14 as listed, then 18 times 32 (cartridge, speed, cover, waste, idle, highDpi), 10, 0.
const uint8_t kTonerK5916[] = {0,  30, 36, 38, 47, 80, 6,  32, 32, 32, 40, 44, 32, 32, 32, 32, 32,
                               32, 32, 32, 32, 32, 32, 32, 32, 32, 32, 32, 32, 32, 10, 0};
const uint8_t kTonerT9366[] = {0,  23, 38, 0,  48, 64, 32, 23, 32, 32, 0,  0,  32, 32, 32, 32, 32, 32,
                               32, 32, 32, 32, 32, 32, 32, 32, 32, 32, 32, 8,  10, 0,  0,  0,  0,  0};

void Add(FieldList* fields, const char* name, long long value) { fields->push_back({name, value}); }

FieldList JobSpecFields(Platform platform, const uint8_t* r) {
  FieldList f;
  if (platform == Platform::C) {
    Add(&f, "jobID", r[3]);
    Add(&f, "jobFlags", r[4]);
  } else {
    Add(&f, "jobFlags", r[3]);
    Add(&f, "jobID", Le32(r + 4));
  }
  return f;
}

FieldList PageSpecFields(const uint8_t* r) {
  FieldList f;
  Add(&f, "paperSize", r[3]);
  Add(&f, "mediaType", r[4]);
  Add(&f, "resolutionX", r[5]);
  Add(&f, "resolutionY", r[6]);
  Add(&f, "tray", r[7]);
  // colorMode, feedEdge and marginUnit share this byte; only feedEdge (64) is ever set.
  Add(&f, "feedEdge", r[8]);
  Add(&f, "copies", Le16(r + 9));
  Add(&f, "marginX", Le16(r + 11));
  Add(&f, "marginY", Le16(r + 13));
  Add(&f, "pageNum", Le16(r + 15));
  return f;
}

FieldList RasterImageFields(const uint8_t* r) {
  FieldList f;
  Add(&f, "colorPlane", r[3]);
  Add(&f, "format", r[4]);
  Add(&f, "wholeRasterImageW", Le16(r + 5));
  Add(&f, "wholeRasterImageH", Le16(r + 7));
  Add(&f, "rasterImageW", Le16(r + 9));
  Add(&f, "rasterImageH", Le16(r + 11));
  Add(&f, "compressedImageBytes", Le32(r + 13));
  return f;
}

FieldList BandRecordFields(const uint8_t* r) {
  FieldList f;
  Add(&f, "DL", r[3]);
  Add(&f, "D", r[4]);
  Add(&f, "P", r[5]);
  Add(&f, "reserved", r[6]);
  Add(&f, "width", Le32(r + 7));
  Add(&f, "L0", Le32(r + 11));
  Add(&f, "height", Le32(r + 15));
  Add(&f, "MX", r[19]);
  Add(&f, "MY", r[20]);
  Add(&f, "order", r[21]);
  Add(&f, "options", r[22]);
  Add(&f, "compDataSize", Le32(r + 23));
  Add(&f, "compDataSizePadded", Le32(r + 27));
  Add(&f, "posHorz", Le32(r + 31));
  Add(&f, "posVert", Le32(r + 35));
  Add(&f, "plane", Le32(r + 39));
  Add(&f, "bitSlicePane", Le32(r + 43));
  return f;
}

FieldList CoverageFields(Platform platform, const uint8_t* r) {
  FieldList f;
  if (platform == Platform::C) {
    Add(&f, "printedPoints", Le16(r + 3));
  } else {
    Add(&f, "coverageBits0to5", r[3]);
    Add(&f, "coverageBits6to11", r[4]);
    Add(&f, "coverageBits12to15", r[5]);
    Add(&f, "coverageKilo", (r[3] & 0x3F) | ((r[4] & 0x3F) << 6) | ((r[5] & 0x0F) << 12));
  }
  return f;
}

}  // namespace

uint8_t RecordChecksum(const uint8_t* bytes, size_t count) {
  unsigned sum = 0;
  for (size_t i = 0; i < count; ++i) sum += bytes[i];
  return static_cast<uint8_t>(-sum & 0xFF);
}

std::string ShortRecordName(Platform platform, uint8_t command, uint8_t length) {
  for (const RecordKind& kind : kRecordKinds) {
    if (kind.command == command && kind.length == length &&
        (kind.platform == Platform::Unknown || kind.platform == platform))
      return kind.name;
  }
  return "";
}

FieldList DecodeShortRecord(const std::string& name, Platform platform, const uint8_t* r) {
  FieldList f;
  if (name == "cmdJobSpec") return JobSpecFields(platform, r);
  if (name == "cmdPageSpec") return PageSpecFields(r);
  if (name == "cmdRasterImage") return RasterImageFields(r);
  if (name == "bandRecord") return BandRecordFields(r);
  if (name == "cmdCoverage") return CoverageFields(platform, r);
  if (name == "cmdCustomPaper") {
    Add(&f, "physicalPageW", Le16(r + 3));
    Add(&f, "physicalPageH", Le16(r + 5));
    Add(&f, "printableAreaW", Le16(r + 7));
    Add(&f, "printableAreaH", Le16(r + 9));
  } else if (name == "cmdTonerSave") {
    Add(&f, "tonerSave", r[3]);
  } else if (name == "cmdFineMode") {
    Add(&f, "fineMode", r[3]);
  } else if (name == "cmdDensity") {
    Add(&f, "density", r[3]);
  } else if (name == "cmdSysTime") {
    Add(&f, "year", Le16(r + 3));
    Add(&f, "month", r[5]);
    Add(&f, "day", r[6]);
  } else if (name == "cmdImageDataChecksum") {
    Add(&f, "imageChecksum", Le16(r + 3));
  } else if (name == "queryStatusCmd") {
    Add(&f, "query", r[3]);
  } else if (name == "cmdTonerParamK5916" || name == "cmdTonerParamT9366") {
    Add(&f, "paramVer", r[3]);
    Add(&f, "densityLow", r[4]);
    Add(&f, "densityHigh", r[5]);
  }
  return f;
}

std::string CheckConstantRecord(const std::string& name, const uint8_t* r) {
  const uint8_t* table = nullptr;
  size_t count = 0;
  if (name == "cmdTonerParamK5916") {
    table = kTonerK5916;
    count = sizeof kTonerK5916;
  } else if (name == "cmdTonerParamT9366") {
    table = kTonerT9366;
    count = sizeof kTonerT9366;
  } else {
    return "";
  }
  for (size_t i = 0; i < count; ++i) {
    if (r[3 + i] != table[i]) {
      char text[128];
      snprintf(text, sizeof text, "%s byte %zu is %u, its table has %u", name.c_str(), 3 + i, r[3 + i],
               table[i]);
      return text;
    }
  }
  return "";
}

}  // namespace varnel_inspect
