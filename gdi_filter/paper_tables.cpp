// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Paper tables of the host-based models and the choice of platform from the PPD's model name.
#include "paper_tables.h"

#include <strings.h>

#include <cstring>

#include "platforms.h"
#include "prnt.h"

namespace {
const unsigned short kEnvelopeMarginX = 240;
const unsigned short kEnvelopeMarginY = 120;
}  // namespace

#define PAPER(w, h, fw, fh, code, name) {w, h, fw, fh, code, 0, 0, name}
#define ENVELOPE(w, h, fw, fh, code, name) {w, h, fw, fh, code, kEnvelopeMarginX, kEnvelopeMarginY, name}
#define END_OF_TABLE {-1, 0, 0, 0, 0, 0, 0, ""}

PAPER_SIZE_INFO gPaperSizeArray_VK8388_VT8674[] = {
    PAPER(420, 595, 3264, 4736, 11, "A5"),
    PAPER(595, 842, 4736, 6784, 9, "A4"),
    PAPER(612, 792, 4864, 6368, 1, "Letter"),
    PAPER(612, 1008, 4864, 8192, 5, "Legal"),
    PAPER(516, 729, 4064, 5856, 13, "B5"),
    PAPER(279, 540, 2112, 4288, 37, "EnvMonarch"),
    PAPER(312, 624, 2368, 4992, 27, "EnvDL"),
    PAPER(459, 649, 3616, 5184, 28, "EnvC5"),
    PAPER(297, 684, 2240, 5472, 20, "Com10Envelope"),
    PAPER(283, 420, 2144, 3264, 43, "Postcard"),
    PAPER(524, 737, 4160, 5920, 263, "16K"),
    PAPER(553, 765, 4384, 6144, 264, "Big16K"),
    PAPER(369, 524, 2848, 4160, 266, "32K"),
    PAPER(383, 553, 2976, 4384, 260, "Big32K"),
    PAPER(298, 420, 2272, 3264, 70, "A6"),
    PAPER(499, 709, 3936, 5696, 34, "IOSB5"),
    PAPER(522, 756, 4128, 6080, 7, "Executive"),
    PAPER(612, 936, 4864, 7584, 14, "Folio"),
    PAPER(612, 972, 4864, 7872, 269, "Oficio"),
    PAPER(396, 612, 3072, 4864, 6, "Statement"),
    PAPER(323, 459, 2464, 3616, 31, "EnvC6"),
    PAPER(340, 652, 2624, 5216, 270, "ZL"),
    PAPER(354, 499, 2720, 3936, 271, "B6"),
    END_OF_TABLE,
};

PAPER_SIZE_INFO gPaperSizeArray_VK8244_VT9366[] = {
    PAPER(420, 595, 3264, 4736, 11, "A5"),
    PAPER(595, 842, 4736, 6780, 1, "A4"),
    PAPER(612, 792, 4864, 6364, 2, "Letter"),
    PAPER(612, 1008, 4864, 8164, 4, "Legal"),
    PAPER(516, 729, 4064, 5835, 5, "B5"),
    PAPER(279, 540, 2112, 4264, 6, "EnvMonarch"),
    PAPER(312, 624, 2368, 4961, 7, "EnvDL"),
    PAPER(459, 649, 3616, 5174, 8, "EnvC5"),
    PAPER(297, 684, 2240, 5464, 9, "Com10Envelope"),
    PAPER(283, 420, 2144, 3260, 12, "Postcard"),
    PAPER(524, 737, 4160, 5906, 14, "16K"),
    PAPER(553, 765, 4384, 6142, 15, "Big16K"),
    PAPER(369, 524, 2848, 4134, 16, "32K"),
    PAPER(383, 553, 2976, 4371, 17, "Big32K"),
    PAPER(298, 420, 2272, 3260, 19, "A6"),
    PAPER(499, 709, 3936, 5670, 20, "IOSB5"),
    PAPER(522, 756, 4128, 6064, 21, "Executive"),
    PAPER(612, 936, 4864, 7560, 22, "Folio"),
    PAPER(612, 972, 4864, 7866, 23, "Oficio"),
    PAPER(396, 612, 3072, 4864, 24, "Statement"),
    PAPER(323, 459, 2464, 3591, 25, "EnvC6"),
    PAPER(340, 652, 2624, 5197, 26, "ZL"),
    PAPER(354, 499, 2720, 3922, 28, "B6"),
    END_OF_TABLE,
};

// The second B6 row (code 30) is never reached by a size lookup; it is kept as the printer
// firmware lists it.
PAPER_SIZE_INFO gPaperSizeArray_QD3820[] = {
    PAPER(420, 595, 3328, 4736, 6, "A5"),
    PAPER(612, 792, 4928, 6364, 0, "Letter"),
    PAPER(595, 842, 4800, 6780, 1, "A4"),
    PAPER(298, 420, 2304, 3260, 24, "A6"),
    PAPER(516, 729, 4128, 5835, 3, "B5"),
    PAPER(499, 709, 3968, 5670, 25, "IOSB5"),
    PAPER(354, 499, 2784, 3922, 31, "B6"),
    PAPER(522, 756, 4192, 6064, 10, "Executive"),
    PAPER(396, 612, 3136, 4864, 12, "Statement"),
    PAPER(612, 936, 4928, 7560, 26, "Folio"),
    PAPER(612, 972, 4928, 7866, 27, "Oficio"),
    PAPER(283, 420, 2176, 3260, 8, "Postcard"),
    PAPER(279, 540, 2144, 4264, 11, "EnvMonarch"),
    PAPER(312, 624, 2432, 4961, 14, "EnvDL"),
    PAPER(459, 649, 3648, 5174, 15, "EnvC5"),
    PAPER(297, 684, 2304, 5464, 16, "Com10Envelope"),
    PAPER(323, 459, 2528, 3591, 28, "EnvC6"),
    PAPER(340, 652, 2656, 5197, 29, "ZL"),
    PAPER(354, 499, 2784, 3922, 30, "B6"),
    PAPER(612, 1008, 4928, 8164, 2, "Legal"),
    PAPER(383, 553, 3008, 4371, 23, "Big32K"),
    PAPER(553, 765, 4448, 6142, 21, "Big16K"),
    PAPER(369, 524, 2912, 4134, 22, "32K"),
    PAPER(524, 737, 4192, 5906, 20, "16K"),
    END_OF_TABLE,
};

PAPER_SIZE_INFO gPaperSizeArray_QD3820MFP[] = {
    PAPER(420, 595, 3312, 4720, 6, "A5"),
    PAPER(612, 792, 4912, 6364, 0, "Letter"),
    PAPER(595, 842, 4776, 6782, 1, "A4"),
    PAPER(298, 420, 2296, 3260, 24, "A6"),
    PAPER(516, 729, 4112, 5835, 3, "B5"),
    PAPER(499, 709, 3968, 5669, 25, "IOSB5"),
    PAPER(354, 499, 2760, 3921, 31, "B6"),
    PAPER(522, 756, 4168, 6064, 10, "Executive"),
    PAPER(396, 612, 3112, 4864, 12, "Statement"),
    PAPER(612, 936, 4912, 7564, 26, "Folio"),
    PAPER(612, 972, 4920, 7866, 27, "Oficio"),
    ENVELOPE(283, 420, 1896, 3024, 8, "Postcard"),
    ENVELOPE(279, 540, 1856, 4028, 11, "EnvMonarch"),
    ENVELOPE(312, 624, 2128, 4724, 14, "EnvDL"),
    ENVELOPE(459, 649, 3360, 4937, 15, "EnvC5"),
    ENVELOPE(297, 684, 2008, 5228, 16, "Com10Envelope"),
    ENVELOPE(323, 459, 2224, 3354, 28, "EnvC6"),
    PAPER(340, 652, 2648, 5197, 29, "ZL"),
    PAPER(612, 1008, 4912, 8164, 2, "Legal"),
    PAPER(383, 553, 3000, 4370, 23, "Big32K"),
    PAPER(553, 765, 4424, 6142, 21, "Big16K"),
    PAPER(369, 524, 2888, 4134, 22, "32K"),
    PAPER(524, 737, 4184, 5906, 20, "16K"),
    END_OF_TABLE,
};

#undef PAPER
#undef ENVELOPE
#undef END_OF_TABLE

namespace {

struct ModelGroup {
  const char* const* names;
  int platform;
  PAPER_SIZE_INFO* table;
};

const char* const kQD3820Models[] = {"Varnel K8186 Series", "Varnel K5369 Series", nullptr};
const char* const kQD3820MFPModels[] = {"Varnel T8911 Series", "Varnel T9281 Series", nullptr};
const char* const kPlatformZModels[] = {
    "Varnel K5916 Series", "Varnel T8323-T9076 Series", "Varnel T4544 Series", "Varnel T4544D Series",
    "Varnel T4544DW Series", "Varnel T4544DW Plus Series", "Varnel T7670 Series", "Varnel T7670DW Series",
    "Varnel T7670FDW Series", "Varnel T4470FDW Series", "Varnel K7670 Series", "Varnel K7670DW Series",
    "Varnel K8922 Series", "Varnel K8922D Series", "Varnel K8922DW Series", "Varnel K9531 Series",
    "Varnel K9531W Series", "Varnel T7584 Series", "Varnel T7584NW Series", nullptr};
const char* const kPlatformMModels[] = {
    "Varnel K9514 Series", "Varnel K9514W Series", "Varnel K8388 Series", "Varnel K8388N Series",
    "Varnel K8388W Series", "Varnel K8388NW Series", "Varnel K6592 Series", "Varnel K6592N Series",
    "Varnel W5369 Series", "Varnel K6988NW Series", "Varnel K4960 Series", "Varnel K4960N Series",
    "Varnel K4960NW Series", "Varnel K9054 Series", "Varnel K9054N Series", "Varnel T6166W Series",
    "Varnel T8674 Series", "Varnel T8674N Series", "Varnel T8674NW Series", "Varnel T8674W Series",
    "Varnel T8862NW Series", "Varnel T9177 Series", "Varnel T9177N Series", "Varnel T9177W Series",
    "Varnel T9177NW Series", "Varnel T7212 Series", "Varnel T7212N Series", "Varnel T7212NW Series",
    "Varnel T7212W Series", "Varnel T7029W Series", "Varnel TW9076NW Series", nullptr};

const ModelGroup kModelGroups[] = {
    {kQD3820Models, PLATFORM_C, gPaperSizeArray_QD3820},
    {kQD3820MFPModels, PLATFORM_C, gPaperSizeArray_QD3820MFP},
    {kPlatformZModels, PLATFORM_Z, gPaperSizeArray_VK8244_VT9366},
    {kPlatformMModels, PLATFORM_M, gPaperSizeArray_VK8388_VT8674},
};

bool NameInList(const char* name, const char* const* list) {
  for (; *list != nullptr; ++list)
    if (strcmp(name, *list) == 0) return true;
  return false;
}

}  // namespace

PAPER_SIZE_INFO* GetPaperSizeArray(char* pPPDFile, int* pPlatform) {
  *pPlatform = PLATFORM_UNKNOWN;
  if (pPPDFile == nullptr) return nullptr;
  for (const ModelGroup& group : kModelGroups) {
    if (NameInList(pPPDFile, group.names)) {
      *pPlatform = group.platform;
      return group.table;
    }
  }
  return nullptr;
}

int GetPlatformFromText(const char* text) {
  if (text == nullptr) return PLATFORM_UNKNOWN;
  for (int platform = PLATFORM_C; GetPlatformFacts(platform) != nullptr; ++platform) {
    if (!strcasecmp(text, GetPlatformFacts(platform)->name)) return platform;
  }
  return PLATFORM_UNKNOWN;
}

PAPER_SIZE_INFO* GetPlatformPaperArray(int platform) {
  const PLATFORM_FACTS* facts = GetPlatformFacts(platform);
  return facts != nullptr ? facts->paperArray : nullptr;
}

int GetPaperArrayIndex(unsigned int* cupsPaperSize, PAPER_SIZE_INFO* paperTypeArray, int* pFeed) {
  if (cupsPaperSize[0] == 421 && cupsPaperSize[1] == 595) {
    *pFeed = 1;
    return 0;
  }
  if (paperTypeArray == nullptr) return -1;
  for (int i = 0; paperTypeArray[i].cupsPaperW != -1; ++i) {
    if (static_cast<unsigned>(paperTypeArray[i].cupsPaperW) == cupsPaperSize[0] &&
        static_cast<unsigned>(paperTypeArray[i].cupsPaperH) == cupsPaperSize[1])
      return i;
  }
  return -1;
}
