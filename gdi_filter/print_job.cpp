// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// The print core: the job and page pipeline from grey raster lines to printer records. A page
// goes: lines into the grey page, back-side and long-edge turns, halftone, JBIG and records.
#include "print_job.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "common.h"
#include "jbigCompress.h"
#include "page_params.h"
#include "page_transform.h"
#include "spool.h"

namespace {

const unsigned short kLongEdgeFeed = 64;

// ---- Page memory ----

// Page memory comes from malloc-family calls (large buffers are aligned for huge pages).
struct PageMemoryFree {
  void operator()(unsigned char* p) const { free(p); }
};
using PageMemory = std::unique_ptr<unsigned char[], PageMemoryFree>;

// The grey page, one raster line and the bitmap. Allocated on the first page and grown when a
// page needs more, so that a job touches fresh memory once instead of on every page.
struct PageBuffers {
  PageMemory pGrayImgLineBuf;
  PageMemory pGrayImgBuf;
  PageMemory pMonoImgBuf;
  size_t lineCapacity = 0;
  size_t grayCapacity = 0;
  size_t monoCapacity = 0;
};

// A page buffer touches every byte of fresh memory once per job; in 2 MiB pages that costs a few
// dozen page faults instead of thousands of 4 KiB ones. Where the kernel offers no huge pages the
// advice is ignored.
constexpr size_t kHugePage = size_t{2} << 20;

unsigned char* AllocatePageMemory(size_t bytes) {
  if (bytes < 2 * kHugePage) return static_cast<unsigned char*>(malloc(bytes));
  size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
  void* p = nullptr;
  if (posix_memalign(&p, kHugePage, rounded) != 0) return nullptr;
  madvise(p, rounded, MADV_HUGEPAGE);
  return static_cast<unsigned char*>(p);
}

bool Grow(PageMemory* buffer, size_t* capacity, size_t needed) {
  if (*buffer && *capacity >= needed) return true;
  buffer->reset();
  *capacity = 0;
  buffer->reset(AllocatePageMemory(needed));
  if (!*buffer) return false;
  *capacity = needed;
  return true;
}

void ReleasePageBuffers(PageBuffers* b) { *b = PageBuffers(); }

// Makes the buffers large enough for a page of width x height and a raster line of bytesPerLine
// bytes and zeroes the bitmap. The grey page is left as it is: every row of it is written by the
// line input or by FinishGrayPage. false when memory cannot be had (the buffers are then released).
bool PreparePageBuffers(PageBuffers* b, unsigned int bytesPerLine, unsigned int width, unsigned int height,
                        int b2Bit) {
  size_t lineBytes = std::max<size_t>(bytesPerLine, width);
  size_t grayBytes = static_cast<size_t>(width) * height;
  size_t bitsPerRow = b2Bit ? 2 * static_cast<size_t>(width) : width;
  // Whole bytes per bitmap row, so that a row width that is no multiple of 8 still fits.
  size_t monoBytes = (bitsPerRow + 7) / 8 * height;
  if (lineBytes == 0 || grayBytes == 0 || !Grow(&b->pGrayImgLineBuf, &b->lineCapacity, lineBytes) ||
      !Grow(&b->pGrayImgBuf, &b->grayCapacity, grayBytes) || !Grow(&b->pMonoImgBuf, &b->monoCapacity, monoBytes)) {
    ReleasePageBuffers(b);
    return false;
  }
  memset(b->pMonoImgBuf.get(), 0, monoBytes);
  return true;
}

}  // namespace

struct _PRINT_JOB {
  PAGE_SETTINGS settings{};     // of the current page
  char DuplexMsg[1024] = {0};   // settings.duplexMsg points here
  bool longEdgeFeedForced = false;  // a 421 x 595 page chose long-edge feed: it stays for the job
  int b2Bit = 0;                // 2 bits per pixel (M at 1200 dpi); once set, for the whole job
  unsigned int iCopies = 1;     // the first page's NumCopies
  cups_page_header2_t header{};
  GDI_START_DOC_PARAM startDocParam{};
  GDI_START_PAGE_PARAM startPageParam{};
  GDI_SEND_PAGE_PARAM sendPageParam{};
  GDI_END_PAGE_PARAM endPageParam{};
  GDI_END_DOC_PARAM endDocParam{};
  PAGE_GEOMETRY geometry{};
  PageBuffers buffers;
  SPOOL_JOB spool{};
  bool pageOpen = false;        // between PrintPageBegin and PrintPageEnd
  unsigned int linesIn = 0;     // raster lines the open page has taken
  bool ended = false;           // nothing more is sent: the document was ended, or must not be
  bool failed = false;          // the job ends with a failure whatever was printed
  unsigned long incompleteSeen = 0;  // images that could not be compressed, as far as reported
};

namespace {

int Value(const PRINT_JOB& job, FuncName slot) { return job.settings.prntFuncInfo[slot].value; }

void SyncSpoolJob(PRINT_JOB& job) {
  job.spool.iCopies = job.iCopies;
  job.spool.collate = Value(job, COLLATE);
  job.spool.manualDuplex = Value(job, MANUALDUPLEX);
  job.spool.autoDuplex = Value(job, AUTODUPLEX);
  job.spool.reverse = Value(job, REVERSE);
  job.spool.platform = job.settings.platform;
  job.spool.duplexMsg = job.DuplexMsg;
  job.spool.lastHeader = job.header;
  job.spool.startPageParam = &job.startPageParam;
}

// The page's settings, with what stays set for the whole job once a page set it.
void TakeSettings(PRINT_JOB& job, const cups_page_header2_t& header, const PAGE_SETTINGS& settings) {
  job.header = header;
  job.settings = settings;
  if (settings.duplexMsg != nullptr) snprintf(job.DuplexMsg, sizeof job.DuplexMsg, "%s", settings.duplexMsg);
  job.settings.duplexMsg = job.DuplexMsg;
  if (job.longEdgeFeedForced) job.settings.prntFuncInfo[LONGEDGEFEED].value = 1;
  if (Value(job, DPI1200) == 1 && job.settings.platform == PLATFORM_M) job.b2Bit = 1;
}

// ---- First page ----

// The document header and the spool files. A spool file that cannot be made costs its copies or
// back sides, which the end of the job reports; the pages go on.
void FirstPageSetUp(PRINT_JOB& job) {
  job.iCopies = job.header.NumCopies;
  FillStartDocParam(job.settings.jobId, job.settings.jobName, job.settings.prntFuncInfo, job.settings.platform,
                    job.settings.iSupportManDuplex, &job.startDocParam);
  g_ismiddlepage = 1;
  if (!Prnt_StartDoc(&job.startDocParam, job.settings.platform)) ReportChainedFailure("main() :: Start doc Fail ! \n");
  FlushPrinterOutput();
  g_ismiddlepage = 0;
  SyncSpoolJob(job);
  SpoolSetUp(&job.spool, &job.header);
}

// ---- One page ----

bool ComputeGeometry(PRINT_JOB& job, int pageNumber) {
  int& longEdgeFeed = job.settings.prntFuncInfo[LONGEDGEFEED].value;
  const int chosenBefore = longEdgeFeed;
  if (!ComputePageGeometry(&job.header, job.settings.paperSizeArray, job.settings.platform,
                           job.settings.customMargins, &longEdgeFeed, pageNumber, &job.geometry, &job.startPageParam))
    return false;
  if (longEdgeFeed != chosenBefore) job.longEdgeFeedForced = true;
  return true;
}

void StartPage(PRINT_JOB& job) {
  FillStartPageParam(&job.header, job.settings.prntFuncInfo, job.settings.platform, job.b2Bit, g_page, &job.geometry,
                     &job.startPageParam);
  g_ismiddlepage = 1;
  if (!Prnt_StartPage(&job.startPageParam, job.settings.platform)) ReportChainedFailure("main() :: Start page Fail ! \n");
  FlushPrinterOutput();
  g_ismiddlepage = 0;
}

// Rows below the last line taken are white, so nothing of an earlier page of the job shows
// through the page buffer.
void FinishGrayPage(PRINT_JOB& job) {
  const size_t width = job.geometry.fwImgWPixel;
  const unsigned int height = job.geometry.fwImgHPixel;
  const unsigned int rowsFilled = std::min(job.linesIn, height);
  memset(job.buffers.pGrayImgBuf.get() + rowsFilled * width, 255, (height - rowsFilled) * width);
}

void TurnPage(PRINT_JOB& job, unsigned int* width, unsigned int* height, unsigned int* realWidth) {
  int rotate = DecideRotate180(job.settings.prntFuncInfo, g_page, job.startPageParam.feedEdge, job.settings.platform,
                               job.settings.mDuplexType);
  fprintf(stderr, "DEBUG: ##page is %d, rotate180 is %d\n", g_page, rotate);
  unsigned char* gray = job.buffers.pGrayImgBuf.get();
  if (rotate == 1 && !Rotate180(reinterpret_cast<char*>(gray), *width, *height))
    ReportChainedFailure("main() :: Rotate 180 Fail. \n");
  *realWidth = job.header.cupsBytesPerLine;
  if (job.startPageParam.feedEdge == kLongEdgeFeed) {
    Rotate90(gray, *width, *height);
    SwapUINT(width, height);
    *realWidth = job.header.cupsHeight;
  }
  // The raster may be wider (or, turned, taller) than the paper: the halftoner never reads past
  // the page image.
  *realWidth = std::min(*realWidth, *width);
}

void SendAndEndPage(PRINT_JOB& job, unsigned int width, unsigned int height) {
  const int platform = job.settings.platform;
  FillSendPageParam(&job.header, platform, job.b2Bit, width, height, job.buffers.pMonoImgBuf.get(),
                    &job.sendPageParam);
  g_ismiddlepage = 1;
  const unsigned long incompleteBefore = gIncompleteImages;
  if (!Prnt_SendPage(&job.sendPageParam, platform)) ReportChainedFailure("main() :: Send page Fail!\n");
  if (gIncompleteImages != incompleteBefore) {
    fprintf(stderr, "ERROR: Page %d was printed incomplete: its image could not be compressed\n", g_page);
    job.failed = true;
  }
  job.incompleteSeen = gIncompleteImages;
  FlushPrinterOutput();
  FillEndPageParam(&job.header, job.settings.prntFuncInfo, g_page, &job.endPageParam);
  if (!Prnt_EndPage(&job.endPageParam, platform)) ReportChainedFailure("main() :: End page Fail ! \n");
  FlushPrinterOutput();
  g_ismiddlepage = 0;
}

}  // namespace

void ApplyManualDuplexConversion(PAGE_SETTINGS* settings) {
  PRINT_FUNC_INFO* funcs = settings->prntFuncInfo;
  if (funcs[AUTODUPLEX].value == 0 || settings->platform != PLATFORM_Z || settings->iSupportManDuplex != 1) return;
  if (funcs[AUTODUPLEX].value == 2) settings->mDuplexType = 1;
  funcs[MANUALDUPLEX].value = 1;
  funcs[AUTODUPLEX].value = 0;
  fprintf(stderr, "DEBUG: ##ManualDuplex = %d, type is %d\n", 1, settings->mDuplexType);
}

int PrintJobNeedsKeepAlive(int platform) { return platform == PLATFORM_C || platform == PLATFORM_Z ? 1 : 0; }

PPRINT_JOB PrintJobBegin(void) {
  PPRINT_JOB job = new (std::nothrow) PRINT_JOB();
  if (job == nullptr) return nullptr;
  g_page = 0;
  Canceled = 0;
  g_ismiddlepage = 1;
  gSendDataToDevice = 1;
  gCollateFile = gManualDuplexOddFile = gManualDuplexEvenFile = 0;
  gCacheSize.clear();
  prntLastError[0] = '\0';
  ResetOutputFailures();
  gIncompleteImages = 0;
  return job;
}

int PrintPageBegin(PPRINT_JOB job, const cups_page_header2_t* header, const PAGE_SETTINGS* settings) {
  if (job == nullptr || header == nullptr || settings == nullptr || job->ended || job->pageOpen) return 0;
  if (PrinterOutputFailed()) return 0;
  const int pageNumber = g_page + 1;
  TakeSettings(*job, *header, *settings);
  if (!ComputeGeometry(*job, pageNumber)) {
    job->failed = true;
    return 0;
  }
  // The page's memory is had before any of its records goes out, so that a page is either sent
  // whole or not started.
  if (!PreparePageBuffers(&job->buffers, job->header.cupsBytesPerLine, job->geometry.fwImgWPixel,
                          job->geometry.fwImgHPixel, job->b2Bit)) {
    SetLastError("main() :: Malloc pGrayImgLineBuf or pMonoImgLineBuf or pMonoImgBuf Fail ! \n");
    fprintf(stderr, "ERROR: Unable to print page %d: out of memory\n", pageNumber);
    job->failed = true;
    return 0;
  }
  g_page = pageNumber;
  if (g_page == 1) FirstPageSetUp(*job);
  SyncSpoolJob(*job);
  SpoolRoutePage(&job->spool);
  StartPage(*job);
  job->linesIn = 0;
  job->pageOpen = true;
  return PrinterOutputFailed() ? 0 : 1;
}

// A line is read straight into its image row when it fits there; a wider line goes aside and is
// cropped around its centre; a line below the paper goes aside and is dropped.
unsigned char* PrintPageLine(PPRINT_JOB job) {
  if (job == nullptr || !job->pageOpen || Canceled || job->linesIn >= job->header.cupsHeight) return nullptr;
  const size_t width = job->geometry.fwImgWPixel;
  if (job->linesIn < job->geometry.fwImgHPixel && job->header.cupsBytesPerLine <= width)
    return job->buffers.pGrayImgBuf.get() + job->linesIn * width;
  return job->buffers.pGrayImgLineBuf.get();
}

void PrintPageLineDone(PPRINT_JOB job) {
  if (job == nullptr || !job->pageOpen || job->linesIn >= job->header.cupsHeight) return;
  const unsigned int y = job->linesIn++;
  if (y >= job->geometry.fwImgHPixel) return;  // below the paper
  const size_t width = job->geometry.fwImgWPixel;
  const size_t bytesPerLine = job->header.cupsBytesPerLine;
  unsigned char* row = job->buffers.pGrayImgBuf.get() + y * width;
  if (bytesPerLine <= width)
    memset(row + bytesPerLine, 255, width - bytesPerLine);
  else
    memcpy(row, job->buffers.pGrayImgLineBuf.get() + (bytesPerLine - width) / 2, width);  // centred crop
}

int PrintPageWriteLine(PPRINT_JOB job, const unsigned char* line, size_t length) {
  unsigned char* room = PrintPageLine(job);
  if (room == nullptr || line == nullptr) return 0;
  const size_t bytesPerLine = job->header.cupsBytesPerLine;
  const size_t taken = std::min(length, bytesPerLine);
  memcpy(room, line, taken);
  memset(room + taken, 255, bytesPerLine - taken);
  PrintPageLineDone(job);
  return 1;
}

int PrintPageEnd(PPRINT_JOB job) {
  if (job == nullptr || !job->pageOpen) return 0;
  job->pageOpen = false;
  FinishGrayPage(*job);
  unsigned int width = job->geometry.fwImgWPixel;
  unsigned int height = job->geometry.fwImgHPixel;
  unsigned int realWidth = 0;
  TurnPage(*job, &width, &height, &realWidth);
  HalftoneDither(job->buffers.pGrayImgBuf.get(), width, height, job->buffers.pMonoImgBuf.get(), realWidth,
                 Value(*job, NEGATIVEPRINT), Value(*job, DPI1200), job->settings.platform);
  SendAndEndPage(*job, width, height);
  if (Canceled || PrinterOutputFailed()) return 0;
  FlushPrinterOutput();
  g_ismiddlepage = 0;
  return Canceled || PrinterOutputFailed() ? 0 : 1;
}

int PrintJobEnd(PPRINT_JOB job) {
  if (job == nullptr) return 0;
  if (job->pageOpen) PrintPageEnd(job);
  if (!job->ended && g_page > 0) {
    SyncSpoolJob(*job);
    if (!SpoolEndOfJob(&job->spool)) job->failed = true;
    g_ismiddlepage = 1;
    FlushPrinterOutput();
    job->endDocParam.page = g_page;
    job->endDocParam.bMachDup = Value(*job, AUTODUPLEX) != 0 ? 1 : 0;
    if (!Prnt_EndDoc(&job->endDocParam, job->settings.platform)) ReportChainedFailure("main() :: End doc Fail ! \n");
    FlushPrinterOutput();
  }
  if (gIncompleteImages != job->incompleteSeen) {
    // A blank page of the end of the job (a back side) could not be compressed.
    fputs("ERROR: A blank back side was printed incomplete: its image could not be compressed\n", stderr);
    job->incompleteSeen = gIncompleteImages;
    job->failed = true;
  }
  job->ended = true;
  return job->failed || PrinterOutputFailed() ? 0 : 1;
}

void PrintJobRelease(PPRINT_JOB job) {
  g_ismiddlepage = 0;
  if (job == nullptr) return;
  SpoolRemove(&job->spool);
  delete job;
}

void PrintJobCancel(void) { Canceled = 1; }
