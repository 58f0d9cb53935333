// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// The raster filter's paper tables as IPP media.
#include "media.h"

#include <cups/cups.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const int kDotsPerInch = 600;

// Hundredths of millimetres of a length in points, rounded up so that libcups' truncation
// gives the points back.
int HundredthsMm(int points) { return static_cast<int>(std::ceil(points * 2540.0 / 72.0)); }

std::string Millimetres(int hundredths) {
  char text[32];
  if (hundredths % 100 == 0)
    snprintf(text, sizeof text, "%d", hundredths / 100);
  else if (hundredths % 10 == 0)
    snprintf(text, sizeof text, "%d.%d", hundredths / 100, (hundredths % 100) / 10);
  else
    snprintf(text, sizeof text, "%d.%02d", hundredths / 100, hundredths % 100);
  return text;
}

std::string SelfDescribingName(const char* prefix, int w, int h) {
  return std::string(prefix) + "_" + Millimetres(HundredthsMm(w)) + "x" + Millimetres(HundredthsMm(h)) + "mm";
}

bool WithinOnePoint(int a, int b) { return std::abs(a - b) <= 1; }

// A standard PWG name whose size gives the row's points, else a custom name after the row.
std::string PwgName(const PAPER_SIZE_INFO& row) {
  pwg_media_t* pwg = pwgMediaForSize(HundredthsMm(row.cupsPaperW), HundredthsMm(row.cupsPaperH));
  if (pwg != nullptr && strncmp(pwg->pwg, "custom_", 7) != 0 &&
      WithinOnePoint(static_cast<int>(PointsFromHundredthsMm(pwg->width)), row.cupsPaperW) &&
      WithinOnePoint(static_cast<int>(PointsFromHundredthsMm(pwg->length)), row.cupsPaperH))
    return pwg->pwg;
  std::string name = "custom_";
  for (const unsigned char* c = row.strPageSize; *c != '\0'; ++c)
    if (isalnum(*c)) name += static_cast<char>(tolower(*c));
  if (name == "custom_") name += "paper";
  return SelfDescribingName(name.c_str(), row.cupsPaperW, row.cupsPaperH);
}

int MarginHundredthsMm(int pagePoints, int imagePixels, int share) {
  int pagePixels = pagePoints * kDotsPerInch / 72;
  int margin = (pagePixels - imagePixels) / share;
  return margin > 0 ? static_cast<int>(std::ceil(margin * 2540.0 / kDotsPerInch)) : 0;
}

}  // namespace

unsigned PointsFromHundredthsMm(int hundredths) { return static_cast<unsigned>(72.0 * hundredths / 2540.0); }

MEDIA_LIST MediaFromPaperTable(const PAPER_SIZE_INFO* table) {
  MEDIA_LIST list;
  if (table == nullptr) return list;
  int minW = 0, minH = 0, maxW = 0, maxH = 0;
  for (const PAPER_SIZE_INFO* row = table; row->cupsPaperW != -1; ++row) {
    bool seen = std::any_of(list.sizes.begin(), list.sizes.end(), [row](const MEDIA_SIZE& size) {
      return size.pointsW == row->cupsPaperW && size.pointsH == row->cupsPaperH;
    });
    if (seen) continue;
    list.sizes.push_back({PwgName(*row), row->cupsPaperW, row->cupsPaperH});
    minW = minW == 0 ? row->cupsPaperW : std::min(minW, row->cupsPaperW);
    minH = minH == 0 ? row->cupsPaperH : std::min(minH, row->cupsPaperH);
    maxW = std::max(maxW, row->cupsPaperW);
    maxH = std::max(maxH, row->cupsPaperH);
    // The image is centred across the page and starts at its top edge.
    list.leftRight = std::max(list.leftRight, MarginHundredthsMm(row->cupsPaperW, row->fwPaperW, 2));
    list.bottomTop = std::max(list.bottomTop, MarginHundredthsMm(row->cupsPaperH, row->fwPaperH, 1));
  }
  if (!list.sizes.empty()) {
    list.customMin = SelfDescribingName("custom_min", minW, minH);
    list.customMax = SelfDescribingName("custom_max", maxW, maxH);
  }
  return list;
}

int FindPaperRow(const PAPER_SIZE_INFO* table, unsigned w, unsigned h) {
  if (table == nullptr) return -1;
  int near = -1;
  for (int i = 0; table[i].cupsPaperW != -1; ++i) {
    if (static_cast<unsigned>(table[i].cupsPaperW) == w && static_cast<unsigned>(table[i].cupsPaperH) == h) return i;
    if (near < 0 && WithinOnePoint(table[i].cupsPaperW, static_cast<int>(w)) &&
        WithinOnePoint(table[i].cupsPaperH, static_cast<int>(h)))
      near = i;
  }
  return near;
}
