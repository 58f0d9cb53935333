// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// The platform table: one row per platform, its facts in the order of PLATFORM_FACTS
// (platforms.h tells what each means).
#include "platforms.h"

#include <jbig.h>

#include "halftone_tables.h"
#include "prnt_records.h"

namespace {

constexpr PLATFORM_FACTS kPlatformFacts[] = {
    {
        PLATFORM_C, "PLATFORM_C", gPaperSizeArray_QD3820,
        // start-of-page record
        /* a5PaperCode */ 6, /* longEdgeA5PaperCode */ 6, /* customPaperCode */ 255,
        /* sends1200Dpi */ true, /* resolutionDivisor */ 10, /* mediaType1TakesInputSlot */ false,
        // document record and duplex
        /* saveMode */ 16, /* manualDuplexForAutomatic */ false, /* manualDuplexTurnsShortEdgeFed */ false,
        // image records and JBIG: one image in stripes of the raster record's height
        /* bandLines */ 0, /* rasterLines600 */ 768, /* rasterLinesOther */ 384, /* rasterBytes */ 853,
        /* jbigL0 */ 0, /* jbigMx */ 8, /* jbigOrder */ 0, /* jbigOptions */ JBG_TPBON,
        // halftone
        /* tile600 */ HT_TABLE_600, kHt16, /* tile1200 */ HT_TABLE_1200_C, kHt28,
        /* twoBitAt1200 */ false, /* negativeInvertsPadding */ false, /* countsDots */ true,
        // link
        /* needsKeepAlive */ true,
        // sequences
        StartDoc_C, StartPage_C, SendPage_C, EndPage_C, EndDoc_C, ManualDuplex_C,
    },
    {
        PLATFORM_Z, "PLATFORM_Z", gPaperSizeArray_VK8244_VT9366,
        /* a5PaperCode */ 11, /* longEdgeA5PaperCode */ 18, /* customPaperCode */ 0,
        /* sends1200Dpi */ false, /* resolutionDivisor */ 10, /* mediaType1TakesInputSlot */ false,
        /* saveMode */ 16, /* manualDuplexForAutomatic */ true, /* manualDuplexTurnsShortEdgeFed */ true,
        // bands of 256 lines, each its own image
        /* bandLines */ 256, /* rasterLines600 */ 0, /* rasterLinesOther */ 0, /* rasterBytes */ 0,
        /* jbigL0 */ 256, /* jbigMx */ 0, /* jbigOrder */ JBG_ILEAVE | JBG_SMID,
        /* jbigOptions */ JBG_LRLTWO | JBG_TPDON | JBG_TPBON,
        /* tile600 */ HT_TABLE_600, kHt16, /* tile1200 */ HT_TABLE_1200_Z, kHt16,
        /* twoBitAt1200 */ false, /* negativeInvertsPadding */ false, /* countsDots */ true,
        /* needsKeepAlive */ true,
        StartDoc_Z, StartPage_Z, SendPage_Z, EndPage_Z, EndDoc_Z, ManualDuplex_Z,
    },
    {
        PLATFORM_M, "PLATFORM_M", gPaperSizeArray_VK8388_VT8674,
        /* a5PaperCode */ 11, /* longEdgeA5PaperCode */ 61, /* customPaperCode */ 0,
        /* sends1200Dpi */ false, /* resolutionDivisor */ 1, /* mediaType1TakesInputSlot */ true,
        /* saveMode */ 0, /* manualDuplexForAutomatic */ false, /* manualDuplexTurnsShortEdgeFed */ false,
        // one image
        /* bandLines */ 0, /* rasterLines600 */ 0, /* rasterLinesOther */ 0, /* rasterBytes */ 0,
        /* jbigL0 */ 256, /* jbigMx */ 0, /* jbigOrder */ JBG_ILEAVE | JBG_SMID,
        /* jbigOptions */ JBG_LRLTWO | JBG_TPDON | JBG_TPBON | JBG_DPON,
        // 1200-dpi mode is the 600-dpi tile at 2 bits a pixel
        /* tile600 */ HT_TABLE_600, kHt16, /* tile1200 */ HT_TABLE_600, kHt16,
        /* twoBitAt1200 */ true, /* negativeInvertsPadding */ true, /* countsDots */ false,
        /* needsKeepAlive */ false,
        StartDoc_M, StartPage_M, SendPage_M, EndPage_M, EndDoc_M, ManualDuplex_M,
    },
};

static_assert(kPlatformFacts[PLATFORM_C - 1].platform == PLATFORM_C &&
                  kPlatformFacts[PLATFORM_Z - 1].platform == PLATFORM_Z &&
                  kPlatformFacts[PLATFORM_M - 1].platform == PLATFORM_M,
              "a platform's row is found by its number");
// The band record (prnt_records.h) places a band by the Z band height under its old name.
static_assert(kPlatformFacts[PLATFORM_Z - 1].bandLines == kZBandLines, "kZBandLines is the Z band height");

}  // namespace

const PLATFORM_FACTS* GetPlatformFacts(int platform) {
  if (platform < PLATFORM_C || platform > PLATFORM_M) return nullptr;
  return &kPlatformFacts[platform - 1];
}
