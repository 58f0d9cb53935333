// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Per-page decisions of the page loop: header check, page geometry and the parameter records.
#include "page_params.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common.h"
#include "platforms.h"

namespace {

const unsigned short kLongEdgeFeed = 64;

bool Refuse(int pageNumber, const char* field, unsigned value, const char* why) {
  fprintf(stderr, "ERROR: Page %d refused: %s = %u %s\n", pageNumber, field, value, why);
  return false;
}

// Pixels that a side of `points` needs at `dpi`, rounded up.
unsigned long long PixelsFor(unsigned points, unsigned dpi) {
  return (static_cast<unsigned long long>(points) * dpi + 71) / 72;
}

bool IsGreyColorSpace(unsigned space) { return space == CUPS_CSPACE_W || space == CUPS_CSPACE_SW; }

unsigned RoundUp(unsigned value, unsigned multiple) { return (value + multiple - 1) / multiple * multiple; }

unsigned char DensityLevel(const PRINT_FUNC_INFO* funcs) {
  return funcs[TONERMODE].value == 1 ? 0 : static_cast<unsigned char>(funcs[DENSITY].value & 0xFF);
}

// Image size of a page that no table row describes: the page less the margins at 600 dpi,
// width rounded up to 32 pixels, height to 8. False when nothing printable is left.
bool PrintableSize(const cups_page_header2_t* header, const float customMargins[4], unsigned* width,
                   unsigned* height) {
  float printableW = static_cast<float>(header->PageSize[0]) - customMargins[0] - customMargins[2];
  float printableH = static_cast<float>(header->PageSize[1]) - customMargins[1] - customMargins[3];
  double w = std::trunc(static_cast<double>(printableW) / 72 * 600);
  double h = std::trunc(static_cast<double>(printableH) / 72 * 600);
  // Negative margins can make the area larger than the page: bound it like a page.
  double limit = static_cast<double>(PixelsFor(kMaxPaperSidePoints, 600));
  if (!(w >= 1 && w <= limit && h >= 1 && h <= limit)) return false;
  if (width != nullptr) *width = RoundUp(static_cast<unsigned>(w), 32);
  if (height != nullptr) *height = RoundUp(static_cast<unsigned>(h), 8);
  return true;
}

}  // namespace

int CheckPageHeader(const cups_page_header2_t* h, const float customMargins[4], int page) {
  if (h->cupsBitsPerColor != 8) return Refuse(page, "cupsBitsPerColor", h->cupsBitsPerColor, "(8 needed)");
  if (h->cupsBitsPerPixel != 8) return Refuse(page, "cupsBitsPerPixel", h->cupsBitsPerPixel, "(8 needed)");
  if (!IsGreyColorSpace(RawEnum(h->cupsColorSpace)))
    return Refuse(page, "cupsColorSpace", RawEnum(h->cupsColorSpace), "(greyscale needed)");
  if (h->cupsWidth == 0) return Refuse(page, "cupsWidth", h->cupsWidth, "(empty page)");
  if (h->cupsHeight == 0) return Refuse(page, "cupsHeight", h->cupsHeight, "(empty page)");
  if (h->cupsBytesPerLine != h->cupsWidth)
    return Refuse(page, "cupsBytesPerLine", h->cupsBytesPerLine, "(one byte per pixel of cupsWidth needed)");
  for (int i = 0; i < 2; ++i) {
    const char* resolution = i == 0 ? "HWResolution[0]" : "HWResolution[1]";
    if (h->HWResolution[i] == 0 || h->HWResolution[i] > kMaxResolution)
      return Refuse(page, resolution, h->HWResolution[i], "(1 to 1200 dpi supported)");
    const char* size = i == 0 ? "PageSize[0]" : "PageSize[1]";
    if (h->PageSize[i] == 0 || h->PageSize[i] > kMaxPaperSidePoints)
      return Refuse(page, size, h->PageSize[i], "(larger than any paper)");
  }
  if (h->cupsWidth > PixelsFor(kMaxPaperSidePoints, h->HWResolution[0]))
    return Refuse(page, "cupsWidth", h->cupsWidth, "(larger than any paper at this resolution)");
  if (h->cupsHeight > PixelsFor(kMaxPaperSidePoints, h->HWResolution[1]))
    return Refuse(page, "cupsHeight", h->cupsHeight, "(larger than any paper at this resolution)");
  if (!PrintableSize(h, customMargins, nullptr, nullptr)) {
    fprintf(stderr, "ERROR: Page %d refused: PageSize = [ %u %u ] leaves no printable area within the margins\n",
            page, h->PageSize[0], h->PageSize[1]);
    return 0;
  }
  return 1;
}

int CheckPageSize(const cups_page_header2_t* h, const PAPER_SIZE_INFO* paperSizeArray, const float customMaxSize[2],
                  int page) {
  float width = 0, length = 0;
  for (const PAPER_SIZE_INFO* row = paperSizeArray; row != nullptr && row->cupsPaperW != -1; ++row) {
    width = std::max(width, static_cast<float>(row->cupsPaperW));
    length = std::max(length, static_cast<float>(row->cupsPaperH));
  }
  if (customMaxSize != nullptr) {
    width = std::max(width, customMaxSize[0]);
    length = std::max(length, customMaxSize[1]);
  }
  if (width <= 0 || length <= 0) return 1;
  if (h->PageSize[0] <= width + kPageSizeTolerancePoints && h->PageSize[1] <= length + kPageSizeTolerancePoints)
    return 1;
  fprintf(stderr,
          "ERROR: Page %d refused: PageSize = [ %u %u ] is larger than the largest paper of the printer (%g x %g)\n",
          page, h->PageSize[0], h->PageSize[1], static_cast<double>(width), static_cast<double>(length));
  return 0;
}

int ComputePageGeometry(const cups_page_header2_t* header, PAPER_SIZE_INFO* paperSizeArray, int platform,
                        const float customMargins[4], int* pLongEdgeFeed, int pageNumber, PAGE_GEOMETRY* geo,
                        PGDI_START_PAGE_PARAM sp) {
  const PLATFORM_FACTS* facts = GetPlatformFacts(platform);
  geo->paperIndex = -1;
  if (paperSizeArray != nullptr) {
    unsigned int pageSize[2] = {header->PageSize[0], header->PageSize[1]};
    geo->paperIndex = GetPaperArrayIndex(pageSize, paperSizeArray, pLongEdgeFeed);
  }
  if (geo->paperIndex >= 0) {
    const PAPER_SIZE_INFO& row = paperSizeArray[geo->paperIndex];
    geo->fwImgWPixel = static_cast<unsigned>(row.fwPaperW);
    geo->fwImgHPixel = static_cast<unsigned>(row.fwPaperH);
    sp->paperSize = static_cast<unsigned short>(row.fwPaperNum);
    geo->marginX = row.fwPaperMarginX;
    geo->marginY = row.fwPaperMarginY;
  } else {
    if (!PrintableSize(header, customMargins, &geo->fwImgWPixel, &geo->fwImgHPixel)) {
      fprintf(stderr, "ERROR: Page %d refused: PageSize = [ %u %u ] leaves no printable area within the margins\n",
              pageNumber, header->PageSize[0], header->PageSize[1]);
      return 0;
    }
    sp->paperSize = facts != nullptr ? facts->customPaperCode : 0;
    geo->marginX = geo->marginY = 0;
  }

  sp->resolutionX = sp->resolutionY = 600;
  if (facts == nullptr) return 1;
  if (facts->sends1200Dpi) {
    if (header->HWResolution[0] == 1200) {
      sp->resolutionX = 1200;
      geo->fwImgWPixel *= 2;
    }
    if (header->HWResolution[1] == 1200) {
      sp->resolutionY = 1200;
      geo->fwImgHPixel *= 2;
    }
  }
  sp->resolutionX = static_cast<unsigned short>(sp->resolutionX / facts->resolutionDivisor);
  sp->resolutionY = static_cast<unsigned short>(sp->resolutionY / facts->resolutionDivisor);
  return 1;
}

void FillStartPageParam(const cups_page_header2_t* header, const PRINT_FUNC_INFO* funcs, int platform,
                        int b2Bit, int pageNumber, PAGE_GEOMETRY* geo, PGDI_START_PAGE_PARAM sp) {
  const PLATFORM_FACTS* facts = GetPlatformFacts(platform);
  unsigned mediaType = header->cupsMediaType;
  sp->mediaType = static_cast<unsigned short>(mediaType);
  bool slotFromOption =
      mediaType == 0 || mediaType == 5 || (facts != nullptr && facts->mediaType1TakesInputSlot && mediaType == 1);
  sp->tray = static_cast<unsigned short>(slotFromOption ? funcs[INPUTSLOT].value : 1);
  sp->colorMode = 0;
  sp->feedEdge =
      (facts != nullptr && funcs[LONGEDGEFEED].value == 1 && sp->paperSize == facts->a5PaperCode) ? kLongEdgeFeed : 0;
  sp->marginUnit = 0;
  sp->copies = static_cast<unsigned short>(funcs[COLLATE].value == 1 ? 1 : header->NumCopies);
  sp->marginX = geo->marginX;
  sp->marginY = geo->marginY;
  sp->pageNum = static_cast<unsigned short>(pageNumber);
  sp->userPhyPgW = static_cast<unsigned short>(header->HWResolution[0] * (header->PageSize[0] / 72.0));
  sp->userPhyPgH = static_cast<unsigned short>(header->HWResolution[1] * (header->PageSize[1] / 72.0));
  sp->userPrntAreaW = static_cast<unsigned short>(geo->fwImgWPixel);
  sp->userPrntAreaH = static_cast<unsigned short>(geo->fwImgHPixel);
  sp->iIs2bit = static_cast<unsigned>(b2Bit);
  sp->densityLevel = DensityLevel(funcs);

  if (sp->feedEdge == kLongEdgeFeed) {
    sp->paperSize = facts->longEdgeA5PaperCode;
    SwapUSHORT(&sp->userPhyPgW, &sp->userPhyPgH);
    SwapUSHORT(&sp->userPrntAreaW, &sp->userPrntAreaH);
  }
}

void FillStartDocParam(const char* jobId, const char* title, const PRINT_FUNC_INFO* funcs, int platform,
                       int iSupportManDuplex, PGDI_START_DOC_PARAM dp) {
  memset(dp, 0, sizeof *dp);
  dp->jobID = static_cast<int>(strtol(jobId, nullptr, 10));
  // The first 32 bytes of the title, not terminated when it is that long.
  memcpy(dp->jobName, title, std::min(strlen(title), sizeof dp->jobName));
  const PLATFORM_FACTS* facts = GetPlatformFacts(platform);
  const bool manualForAutomatic =
      facts != nullptr && facts->manualDuplexForAutomatic && iSupportManDuplex == 1 && funcs[MANUALDUPLEX].value == 1;
  if (manualForAutomatic) {
    dp->DuplexMode = 0;
  } else {
    dp->DuplexMode = (funcs[AUTODUPLEX].value != 0 || funcs[MANUALDUPLEX].value == 1) ? 32 : 0;
  }
  // Nothing is sent for a platform outside the table; its record reads like that of C and Z.
  dp->saveMode = facts != nullptr ? facts->saveMode : 16;
  dp->densityLevel = DensityLevel(funcs);
  dp->FineMode = funcs[FINEMODE].value == 1 ? 1 : 0;
}

void FillSendPageParam(const cups_page_header2_t* header, int platform, int b2Bit, unsigned int fwImgWPixel,
                       unsigned int fwImgHPixel, unsigned char* bitmap, PGDI_SEND_PAGE_PARAM pp) {
  memset(pp, 0, sizeof *pp);
  pp->compression = 32;
  pp->whlImgW = static_cast<unsigned short>(b2Bit ? 2 * fwImgWPixel : fwImgWPixel);
  pp->whlImgH = static_cast<unsigned short>(fwImgHPixel);
  const PLATFORM_FACTS* facts = GetPlatformFacts(platform);
  if (facts != nullptr && facts->rasterLines600 != 0) {
    pp->rasImgW = static_cast<unsigned short>(fwImgWPixel);
    pp->rasImgH = header->HWResolution[0] == 600 ? facts->rasterLines600 : facts->rasterLinesOther;
    pp->cmpImgBytes = facts->rasterBytes;
  }
  pp->sendImgBuf = reinterpret_cast<char*>(bitmap);
}

void FillEndPageParam(const cups_page_header2_t* header, const PRINT_FUNC_INFO* funcs, int pageNumber,
                      PGDI_END_PAGE_PARAM ep) {
  memset(ep, 0, sizeof *ep);
  ep->page = pageNumber;
  ep->bMachDup = funcs[AUTODUPLEX].value != 0 ? 1 : 0;
  ep->resolutionE = static_cast<int>(header->HWResolution[0]);
  float inches = static_cast<float>(header->PageSize[0]) / 72.0f;
  ep->paperWidthE = static_cast<int>(static_cast<double>(inches) * 25.4);
  ep->densityE = funcs[DENSITY].value;
}

int DecideRotate180(const PRINT_FUNC_INFO* funcs, int pageNumber, unsigned short feedEdge, int platform,
                    int mDuplexType) {
  bool even = pageNumber % 2 == 0;
  int imageRotation = funcs[IMAGEROTATION].value == 1 ? 1 : 0;
  switch (funcs[AUTODUPLEX].value) {
    case 1:
      return imageRotation == 1 ? !even : even;
    case 2:
      return imageRotation;
    case 0: {
      const PLATFORM_FACTS* facts = GetPlatformFacts(platform);
      const bool shortEdgeFedTurns = facts != nullptr && facts->manualDuplexTurnsShortEdgeFed && mDuplexType == 0;
      unsigned short turnOverEdge = shortEdgeFedTurns ? 0 : kLongEdgeFeed;
      bool turnOver = funcs[MANUALDUPLEX].value == 1 && feedEdge == turnOverEdge;
      if (!turnOver) return imageRotation;
      return even ? 1 - imageRotation : imageRotation;
    }
    default:
      return 0;
  }
}
