// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// The print core: the job and page pipeline from grey raster lines to printer records.
//
// A page goes, top to bottom:
//   1. PrintPageBegin: geometry and the page's memory (the bitmap, one grey line);
//   2. each raster line: halftoned at once into its bitmap row; a back side turned by half a turn
//      takes its lines mirrored, from the bottom row up, so that no grey page exists. On Z every
//      256-line band goes to the compression workers as soon as its rows are in;
//      On C and M an upright page's image is compressed from PrintPageBegin on, by a worker that
//      reads each stripe of rows as soon as the page loop has made it; the loop stays at most
//      two stripes ahead of it (a Z page at most a few bands ahead of the workers), and rows
//      that are compressed give their memory back, so a page never holds more than a few
//      stripes of bitmap;
//   3. PrintPageEnd: the rows the raster did not give are white; what is not compressed yet goes
//      to the workers (a turned page can only be compressed once its top rows, its last lines,
//      are in). The page then waits to be sent while the next page is read: its records go out
//      as soon as its image is compressed, at the next line boundary, so that two pages are
//      compressed at once on two workers.
// Long-edge A5 pages (turned by a quarter turn) and bitmaps whose rows are not byte-aligned take
// the whole-page road instead: lines into a grey page, Rotate180 and Rotate90, HalftoneDither.
// With no workers (VARNEL_THREADS=1) every image is compressed at PrintPageEnd on this thread.
#include "print_job.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "common.h"
#include "compression_workers.h"
#include "jbigCompress.h"
#include "page_params.h"
#include "page_transform.h"
#include "platforms.h"
#include "spool.h"

namespace {

const unsigned short kLongEdgeFeed = 64;

// ---- Page memory ----

// Page memory comes from malloc-family calls (large buffers are aligned for huge pages), so that
// a page that cannot be had is refused cleanly.
struct PageMemoryFree {
  void operator()(unsigned char* p) const { free(p); }
};
using PageMemory = std::unique_ptr<unsigned char[], PageMemoryFree>;

// A buffer that only grows, so that a job touches fresh memory once instead of on every page.
struct Buffer {
  PageMemory bytes;
  size_t capacity = 0;
  unsigned char* get() const { return bytes.get(); }
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

bool Grow(Buffer* buffer, size_t needed) {
  if (buffer->bytes && buffer->capacity >= needed) return true;
  buffer->bytes.reset();
  buffer->capacity = 0;
  buffer->bytes.reset(AllocatePageMemory(needed > 0 ? needed : 1));
  if (!buffer->bytes) return false;
  buffer->capacity = needed;
  return true;
}

// ---- A page on its way ----

// One page from its first line until its records are on the wire.
struct Page {
  int number = 0;
  PAGE_SETTINGS settings{};  // the page's own (the job's change from page to page)
  cups_page_header2_t header{};
  PAGE_GEOMETRY geometry{};
  GDI_START_PAGE_PARAM startPageParam{};
  GDI_SEND_PAGE_PARAM sendPageParam{};
  Buffer bitmap;
  unsigned int width = 0, height = 0;  // of the bitmap image (after a long-edge turn)
  unsigned int realWidth = 0;          // pixels of a row that belong to the raster
  size_t rowBytes = 0;
  bool turned = false;                 // a back side turned by half a turn
  bool lineByLine = false;             // halftoned as its lines come (else through the grey page)
  HALFTONE_PAGE halftone{};
  unsigned long coverage = 0;          // its black dots (C and Z records)
  JBIG_BIH pageBih{};
  std::vector<ImageTask> images;       // one, or one per 256-line band on Z
  std::vector<unsigned int> bandRowsIn;  // Z: rows of each band halftoned so far
  // A page sent in bands and halftoned line by line has no bitmap: each band's rows go to a
  // buffer of the job's band pool, taken when its first row comes and given back once compressed.
  bool bandBuffers = false;
  std::vector<unsigned char*> bandRows;
  std::vector<bool> submitted;
  bool paced = false;                  // its one image is compressed while its rows are made
  RowProgress rows;                    // of a paced page
  unsigned long rowsReadKnown = 0;     // how far its encoder was known to have read
};

}  // namespace

struct _PRINT_JOB {
  PAGE_SETTINGS settings{};     // of the page being read
  char DuplexMsg[1024] = {0};   // every settings.duplexMsg points here
  bool longEdgeFeedForced = false;  // a 421 x 595 page chose long-edge feed: it stays for the job
  int b2Bit = 0;                // 2 bits per pixel (M at 1200 dpi); once set, for the whole job
  unsigned int iCopies = 1;     // the first page's NumCopies
  cups_page_header2_t header{};
  GDI_START_DOC_PARAM startDocParam{};
  GDI_START_PAGE_PARAM lastStartPageParam{};  // of the last page sent (blank pages copy it)
  GDI_END_PAGE_PARAM endPageParam{};
  GDI_END_DOC_PARAM endDocParam{};
  SPOOL_JOB spool{};
  std::unique_ptr<CompressionWorkers> workers;
  Page pages[2];                // the page being read, and the one read before it
  int reading = 0;              // index of the page being read
  bool haveWaiting = false;     // the other page waits to be sent
  Buffer grayPage;              // the whole-page road
  Buffer grayLine;              // one grey line as wide as the bitmap (white beyond the raster)
  Buffer wideLine;              // a raster line wider than the bitmap, before its crop
  Buffer mirrorLine;            // a line of a turned page, mirrored
  std::vector<Buffer> bandPool;        // buffers of one band's rows
  std::vector<unsigned char*> freeBands;
  struct BandInUse {
    ImageTask* task;
    unsigned char* rows;
  };
  std::vector<BandInUse> bandsInUse;   // handed to the workers, not yet known to be compressed
  bool pageOpen = false;        // between PrintPageBegin and PrintPageEnd
  unsigned int linesIn = 0;     // raster lines the open page has taken
  bool ended = false;           // nothing more is sent: the document was ended, or must not be
  bool failed = false;          // the job ends with a failure whatever was printed
  cups_page_header2_t lastSentHeader{};  // of the last page sent (the end of the job reads them)
  PAGE_SETTINGS lastSentSettings{};
};

namespace {

int Value(const PAGE_SETTINGS& settings, FuncName slot) { return settings.prntFuncInfo[slot].value; }

// The spooling steps read the job values of the page being sent.
void SyncSpoolJob(PRINT_JOB& job, const PAGE_SETTINGS& settings, const cups_page_header2_t& header) {
  job.spool.iCopies = job.iCopies;
  job.spool.collate = Value(settings, COLLATE);
  job.spool.manualDuplex = Value(settings, MANUALDUPLEX);
  job.spool.autoDuplex = Value(settings, AUTODUPLEX);
  job.spool.reverse = Value(settings, REVERSE);
  job.spool.platform = settings.platform;
  job.spool.duplexMsg = job.DuplexMsg;
  job.spool.lastHeader = header;
  job.spool.startPageParam = &job.lastStartPageParam;
}

// The page's settings, with what stays set for the whole job once a page set it.
void TakeSettings(PRINT_JOB& job, const cups_page_header2_t& header, const PAGE_SETTINGS& settings) {
  job.header = header;
  job.settings = settings;
  if (settings.duplexMsg != nullptr) snprintf(job.DuplexMsg, sizeof job.DuplexMsg, "%s", settings.duplexMsg);
  job.settings.duplexMsg = job.DuplexMsg;
  if (job.longEdgeFeedForced) job.settings.prntFuncInfo[LONGEDGEFEED].value = 1;
  const PLATFORM_FACTS* facts = GetPlatformFacts(job.settings.platform);
  if (Value(job.settings, DPI1200) == 1 && facts != nullptr && facts->twoBitAt1200) job.b2Bit = 1;
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
  SyncSpoolJob(job, job.settings, job.header);
  SpoolSetUp(&job.spool, &job.header);
}

// ---- Page set-up ----

bool ComputeGeometry(PRINT_JOB& job, Page& page) {
  int& longEdgeFeed = page.settings.prntFuncInfo[LONGEDGEFEED].value;
  const int chosenBefore = longEdgeFeed;
  if (!ComputePageGeometry(&page.header, page.settings.paperSizeArray, page.settings.platform,
                           page.settings.customMargins, &longEdgeFeed, page.number, &page.geometry,
                           &page.startPageParam))
    return false;
  if (longEdgeFeed != chosenBefore) {
    job.longEdgeFeedForced = true;
    job.settings.prntFuncInfo[LONGEDGEFEED].value = longEdgeFeed;
  }
  FillStartPageParam(&page.header, page.settings.prntFuncInfo, page.settings.platform, job.b2Bit, page.number,
                     &page.geometry, &page.startPageParam);
  return true;
}

// The image size after the page's turns, and how many pixels of a row are the raster's.
void DecideTurns(Page& page) {
  page.turned = DecideRotate180(page.settings.prntFuncInfo, page.number, page.startPageParam.feedEdge,
                                page.settings.platform, page.settings.mDuplexType) == 1;
  page.width = page.geometry.fwImgWPixel;
  page.height = page.geometry.fwImgHPixel;
  page.realWidth = page.header.cupsBytesPerLine;
  if (page.startPageParam.feedEdge == kLongEdgeFeed) {
    SwapUINT(&page.width, &page.height);
    page.realWidth = page.header.cupsHeight;
  }
  // The raster may be wider (or, turned, taller) than the paper: the halftoner never reads past
  // the page image.
  page.realWidth = std::min(page.realWidth, page.width);
}

// Bands a page sent in bands (Z) may have queued or in compression before the page loop waits:
// their rows are all the bitmap the page holds.
const size_t kBandsInFlight = 4;

// Every band buffer that a page sent in bands can need at once: those in flight and the one
// being written. Made before the page starts, so that a page either has them all or is not
// started.
bool PrepareBandPool(PRINT_JOB& job, const Page& page) {
  const size_t bytes = page.rowBytes * PageImageParameters(page.pageBih, 0, page.settings.platform).ParamImgHeight;
  const size_t wanted = kBandsInFlight + 1;
  if (!job.bandPool.empty() && job.bandPool[0].capacity < bytes) {
    // A larger page than before: none of the buffers fits it. Those of the page before are
    // freed once its bands are compressed.
    for (const PRINT_JOB::BandInUse& band : job.bandsInUse) job.workers->Wait(band.task);
    job.bandsInUse.clear();
    job.bandPool.clear();
    job.freeBands.clear();
  }
  while (job.bandPool.size() < wanted) {
    Buffer buffer;
    if (!Grow(&buffer, bytes)) return false;
    job.freeBands.push_back(buffer.get());
    job.bandPool.push_back(std::move(buffer));
  }
  return true;
}

// Band buffers of bands that are compressed go back to the pool.
void ReclaimBands(PRINT_JOB& job) {
  auto& inUse = job.bandsInUse;
  for (size_t i = 0; i < inUse.size();) {
    if (job.workers->Done(inUse[i].task)) {
      job.freeBands.push_back(inUse[i].rows);
      inUse[i] = inUse.back();
      inUse.pop_back();
    } else {
      ++i;
    }
  }
}

// A page that was sent gives back the band buffers of its bands (all compressed by then).
void GiveBackBands(PRINT_JOB& job, const Page& page) {
  auto& inUse = job.bandsInUse;
  for (size_t i = 0; i < inUse.size();) {
    const ImageTask* task = inUse[i].task;
    if (std::any_of(page.images.begin(), page.images.end(), [task](const ImageTask& image) { return &image == task; })) {
      job.freeBands.push_back(inUse[i].rows);
      inUse[i] = inUse.back();
      inUse.pop_back();
    } else {
      ++i;
    }
  }
}

// The buffer of a band whose first row comes now.
unsigned char* TakeBandBuffer(PRINT_JOB& job) {
  ReclaimBands(job);
  while (job.freeBands.empty()) {
    job.workers->Wait(job.bandsInUse.front().task);
    ReclaimBands(job);
  }
  unsigned char* rows = job.freeBands.back();
  job.freeBands.pop_back();
  return rows;
}

// Takes a bitmap of a page sent before, or makes one (or, for a page sent in bands, the band
// buffers); and the line buffers. false when memory cannot be had.
bool PreparePageMemory(PRINT_JOB& job, Page& page) {
  const size_t bitsPerRow = job.b2Bit ? 2 * static_cast<size_t>(page.width) : page.width;
  // Whole bytes per bitmap row, so that a row width that is no multiple of 8 still fits.
  page.rowBytes = (bitsPerRow + 7) / 8;
  const size_t bitmapBytes = page.rowBytes * page.height;
  const size_t width = page.geometry.fwImgWPixel;
  const size_t bytesPerLine = page.header.cupsBytesPerLine;
  if (width == 0 || page.height == 0) return false;
  if (page.bandBuffers) {
    if (!PrepareBandPool(job, page)) return false;
  } else if (!Grow(&page.bitmap, bitmapBytes)) {
    return false;
  }
  if (!page.lineByLine) {
    if (!Grow(&job.grayPage, width * page.geometry.fwImgHPixel)) return false;
    if (!Grow(&job.wideLine, std::max(bytesPerLine, width))) return false;
    return true;
  }
  if (!Grow(&job.grayLine, width) || !Grow(&job.mirrorLine, width)) return false;
  if (bytesPerLine > width && !Grow(&job.wideLine, bytesPerLine)) return false;
  // Beyond the raster's width a line is white; the raster writes only its own bytes.
  if (bytesPerLine < width) memset(job.grayLine.get() + bytesPerLine, 255, width - bytesPerLine);
  return true;
}

// Every image of the page (one, or the bands of Z), none handed out yet; the page's send
// parameters get the bitmap now that it is had.
void StartImages(Page& page) {
  page.sendPageParam.sendImgBuf = reinterpret_cast<char*>(page.bitmap.get());
  const unsigned long count = PageImageCount(page.pageBih, page.settings.platform);
  page.images.clear();
  page.images.resize(count);
  page.submitted.assign(count, false);
  page.bandRowsIn.assign(count, 0);
  page.bandRows.assign(count, nullptr);
  for (unsigned long i = 0; i < count; ++i) {
    page.images[i].bih = PageImageParameters(page.pageBih, i, page.settings.platform);
    if (!page.bandBuffers) page.images[i].rows = PageImageRows(&page.sendPageParam, page.pageBih, i, page.settings.platform);
  }
}

// A page sent as one image (C and M) that is halftoned line by line and upright has its rows made
// from the top down: its image can be compressed meanwhile, when there is a worker to do it.
void StartPacedImage(PRINT_JOB& job, Page& page) {
  page.paced = page.images.size() == 1 && page.lineByLine && !page.turned && job.workers->Threads() > 0 &&
               PacedCompressionWorks(page.images[0].bih);
  if (!page.paced) return;
  page.rows.Reset(page.bitmap.get(), page.rowBytes, page.height);
  page.rowsReadKnown = 0;
  page.images[0].progress = &page.rows;
  page.submitted[0] = true;
  job.workers->Submit(&page.images[0]);
}

void SubmitImage(PRINT_JOB& job, Page& page, unsigned long image) {
  if (page.submitted[image]) return;
  page.submitted[image] = true;
  // Rows that are compressed are not needed any more: their memory goes back, unless the job
  // runs on one thread, where the bitmap is simply reused, or they are a band buffer, which goes
  // back to the pool.
  page.images[image].releaseRows = job.workers->Threads() > 0 && !page.bandBuffers;
  job.workers->Submit(&page.images[image]);
  if (page.bandBuffers) job.bandsInUse.push_back({&page.images[image], page.bandRows[image]});
  if (page.images.size() > 1 && job.workers->Threads() > 0) job.workers->WaitUntilFewerThan(kBandsInFlight);
}

// ---- Lines ----

// Halftones one grey line (page.width samples) into bitmap row `row`; of a page sent in bands
// (which, halftoned line by line, always has band buffers), a band whose rows are all in goes to
// the compression workers. Any other page here is one image that is not paced: it is compressed
// at its end.
void HalftoneInto(PRINT_JOB& job, Page& page, const unsigned char* gray, unsigned int row) {
  if (page.paced) {
    // The rows of a paced page come in order, at most half a page (and at least two stripes)
    // ahead of its encoder, which is told at the end of each stripe. Half a page lets the page
    // loop finish this page while its encoder is half-way, and start the next page on the other
    // worker: two pages are compressed at once, with about one page of rows in memory.
    const unsigned long stripe = page.images[0].bih.ParamL0;
    const unsigned long ahead = std::max<unsigned long>(2 * stripe, page.height / 2);
    if (row >= page.rowsReadKnown + ahead) page.rowsReadKnown = page.rows.WaitConsumed(row + 1 - ahead);
    HalftonePageRow(&page.halftone, gray, row, page.bitmap.get() + row * page.rowBytes);
    const unsigned long made = row + 1;
    if (made % stripe == 0 || made == page.height) page.rows.Publish(made);
    return;
  }
  if (page.bandBuffers) {
    const unsigned long bandHeight = page.images[0].bih.ParamImgHeight;  // all bands but the last are full
    const unsigned long band = row / bandHeight;
    if (page.bandRows[band] == nullptr) {
      page.bandRows[band] = TakeBandBuffer(job);
      page.images[band].rows = page.bandRows[band];
    }
    HalftonePageRow(&page.halftone, gray, row, page.bandRows[band] + (row - band * bandHeight) * page.rowBytes);
    if (++page.bandRowsIn[band] == page.images[band].bih.ParamImgHeight) SubmitImage(job, page, band);
    return;
  }
  HalftonePageRow(&page.halftone, gray, row, page.bitmap.get() + row * page.rowBytes);
}

// Line y of the raster, page.width grey samples at line: row y of the page, or, on a turned page,
// row height - 1 - y with the samples mirrored (what Rotate180 of the grey page would give).
void TakeLine(PRINT_JOB& job, Page& page, const unsigned char* line, unsigned int y) {
  if (!page.turned) {
    HalftoneInto(job, page, line, y);
    return;
  }
  std::reverse_copy(line, line + page.width, job.mirrorLine.get());
  HalftoneInto(job, page, job.mirrorLine.get(), page.height - 1 - y);
}

// The rows no raster line gave are white (nothing of an earlier page shows through).
void FinishLines(PRINT_JOB& job, Page& page) {
  memset(job.grayLine.get(), 255, page.width);
  for (unsigned int y = std::min(job.linesIn, page.height); y < page.height; ++y)
    TakeLine(job, page, job.grayLine.get(), y);
}

// The whole-page road: rows below the last line taken are white, then the turns and the halftone.
void HalftoneWholePage(PRINT_JOB& job, Page& page) {
  const size_t width = page.geometry.fwImgWPixel;
  const unsigned int height = page.geometry.fwImgHPixel;
  const unsigned int rowsFilled = std::min(job.linesIn, height);
  unsigned char* gray = job.grayPage.get();
  memset(gray + rowsFilled * width, 255, (height - rowsFilled) * width);
  // Rows that are not byte-aligned are ORed into the bitmap bit by bit.
  memset(page.bitmap.get(), 0, page.rowBytes * page.height);
  if (page.turned && !Rotate180(reinterpret_cast<char*>(gray), page.geometry.fwImgWPixel, height))
    ReportChainedFailure("main() :: Rotate 180 Fail. \n");
  if (page.startPageParam.feedEdge == kLongEdgeFeed) Rotate90(gray, page.geometry.fwImgWPixel, height);
  HalftoneDither(gray, page.width, page.height, page.bitmap.get(), page.realWidth, Value(page.settings, NEGATIVEPRINT),
                 Value(page.settings, DPI1200), page.settings.platform);
}

// ---- Sending a page ----

// The page's records, with its image compressed ahead, through the spool routing of its own page
// number.
void SendPage(PRINT_JOB& job, Page& page) {
  // The page being read meanwhile keeps its own number and its dot count.
  const int pageReading = g_page;
  const unsigned long coverageReading = gImageCoverage;
  g_page = page.number;
  const int platform = page.settings.platform;
  SyncSpoolJob(job, page.settings, page.header);
  SpoolRoutePage(&job.spool);
  g_ismiddlepage = 1;
  if (!Prnt_StartPage(&page.startPageParam, platform)) ReportChainedFailure("main() :: Start page Fail ! \n");
  for (ImageTask& image : page.images) job.workers->Wait(&image);
  std::vector<JbigImage> images(page.images.size());
  for (size_t i = 0; i < images.size(); ++i) images[i] = std::move(page.images[i].image);
  gImageCoverage = page.coverage;  // the start-of-page record begins a new count
  bool incomplete = false;
  if (!SendCompressedPage(&page.sendPageParam, images.data(), platform, &incomplete))
    ReportChainedFailure("main() :: Send page Fail!\n");
  if (incomplete) {
    fprintf(stderr, "ERROR: Page %d was printed incomplete: its image could not be compressed\n", page.number);
    job.failed = true;
  }
  FillEndPageParam(&page.header, page.settings.prntFuncInfo, page.number, &job.endPageParam);
  if (!Prnt_EndPage(&job.endPageParam, platform)) ReportChainedFailure("main() :: End page Fail ! \n");
  FlushPrinterOutput();
  g_ismiddlepage = 0;
  job.lastStartPageParam = page.startPageParam;
  job.lastSentHeader = page.header;
  job.lastSentSettings = page.settings;
  GiveBackBands(job, page);
  page.images.clear();  // the bitmap stays for the next page
  g_page = pageReading;
  gImageCoverage = coverageReading;
}

Page& ReadingPage(PRINT_JOB& job) { return job.pages[job.reading]; }
Page& WaitingPage(PRINT_JOB& job) { return job.pages[1 - job.reading]; }

// A page whose lines are all in goes out; after a failure of the printer output its images are
// only waited for.
void SendOrDrop(PRINT_JOB& job, Page& page) {
  if (!PrinterOutputFailed()) {
    SendPage(job, page);
    return;
  }
  for (ImageTask& image : page.images) job.workers->Wait(&image);
  GiveBackBands(job, page);
  page.images.clear();
}

// The page read before the one being read goes out; when `ifDone`, only if its images are all
// compressed already (so that the page loop never waits here).
void SendWaitingPage(PRINT_JOB& job, bool ifDone) {
  if (!job.haveWaiting) return;
  Page& page = WaitingPage(job);
  if (ifDone) {
    for (ImageTask& image : page.images)
      if (!job.workers->Done(&image)) return;
  }
  job.haveWaiting = false;
  SendOrDrop(job, page);
}

}  // namespace

void ApplyManualDuplexConversion(PAGE_SETTINGS* settings) {
  PRINT_FUNC_INFO* funcs = settings->prntFuncInfo;
  const PLATFORM_FACTS* facts = GetPlatformFacts(settings->platform);
  if (funcs[AUTODUPLEX].value == 0 || facts == nullptr || !facts->manualDuplexForAutomatic ||
      settings->iSupportManDuplex != 1)
    return;
  if (funcs[AUTODUPLEX].value == 2) settings->mDuplexType = 1;
  funcs[MANUALDUPLEX].value = 1;
  funcs[AUTODUPLEX].value = 0;
  fprintf(stderr, "DEBUG: ##ManualDuplex = %d, type is %d\n", 1, settings->mDuplexType);
}

int PrintJobNeedsKeepAlive(int platform) {
  const PLATFORM_FACTS* facts = GetPlatformFacts(platform);
  return facts != nullptr && facts->needsKeepAlive ? 1 : 0;
}

PPRINT_JOB PrintJobBegin(void) {
  PPRINT_JOB job = new (std::nothrow) PRINT_JOB();
  if (job == nullptr) return nullptr;
  job->workers.reset(new (std::nothrow) CompressionWorkers(CompressionThreadsWanted()));
  if (!job->workers) {
    delete job;
    return nullptr;
  }
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
  TakeSettings(*job, *header, *settings);
  Page& page = ReadingPage(*job);
  page.number = g_page + 1;
  page.header = job->header;
  page.settings = job->settings;
  if (!ComputeGeometry(*job, page)) {
    job->failed = true;
    return 0;
  }
  DecideTurns(page);
  page.lineByLine = page.startPageParam.feedEdge != kLongEdgeFeed &&
                    HalftonePageBegin(&page.halftone, page.width, page.realWidth, Value(page.settings, NEGATIVEPRINT),
                                      Value(page.settings, DPI1200), page.settings.platform) &&
                    page.halftone.rowAligned;
  FillSendPageParam(&page.header, page.settings.platform, job->b2Bit, page.width, page.height, nullptr,
                    &page.sendPageParam);
  page.pageBih = PageJbigParameters(&page.sendPageParam, page.settings.platform);
  page.bandBuffers = page.lineByLine && PageImageCount(page.pageBih, page.settings.platform) > 1;
  // The page's memory is had before anything of it goes out, so that a page is either sent whole
  // or not started.
  if (!PreparePageMemory(*job, page)) {
    SetLastError("main() :: Malloc pGrayImgLineBuf or pMonoImgLineBuf or pMonoImgBuf Fail ! \n");
    fprintf(stderr, "ERROR: Unable to print page %d: out of memory\n", page.number);
    job->failed = true;
    return 0;
  }
  g_page = page.number;
  if (g_page == 1) FirstPageSetUp(*job);
  StartImages(page);
  StartPacedImage(*job, page);
  gImageCoverage = 0;
  job->linesIn = 0;
  job->pageOpen = true;
  return PrinterOutputFailed() ? 0 : 1;
}

// A line that fits goes straight into the grey line (or, on the whole-page road, its grey row);
// a wider line goes aside and is cropped around its centre; a line below the paper goes aside
// and is dropped.
unsigned char* PrintPageLine(PPRINT_JOB job) {
  if (job == nullptr || !job->pageOpen || Canceled || job->linesIn >= job->header.cupsHeight) return nullptr;
  const Page& page = ReadingPage(*job);
  const size_t width = page.geometry.fwImgWPixel;
  if (job->header.cupsBytesPerLine > width) return job->wideLine.get();
  const bool belowThePaper = job->linesIn >= page.geometry.fwImgHPixel;
  if (page.lineByLine) return job->grayLine.get();  // a line below the paper is dropped from there
  return belowThePaper ? job->wideLine.get() : job->grayPage.get() + job->linesIn * width;
}

void PrintPageLineDone(PPRINT_JOB job) {
  if (job == nullptr || !job->pageOpen || job->linesIn >= job->header.cupsHeight) return;
  Page& page = ReadingPage(*job);
  const unsigned int y = job->linesIn++;
  // Between two lines the page before this one goes out once it is compressed.
  if (y % 32 == 0) SendWaitingPage(*job, true);
  if (y >= page.geometry.fwImgHPixel) return;  // below the paper
  const size_t width = page.geometry.fwImgWPixel;
  const size_t bytesPerLine = job->header.cupsBytesPerLine;
  // A wider line is cut around its centre: halftoned straight from there, or copied into its row
  // of the grey page.
  const unsigned char* centre = job->wideLine.get() + (bytesPerLine > width ? (bytesPerLine - width) / 2 : 0);
  if (page.lineByLine) {
    TakeLine(*job, page, bytesPerLine > width ? centre : job->grayLine.get(), y);
    return;
  }
  unsigned char* row = job->grayPage.get() + y * width;
  if (bytesPerLine > width)
    memcpy(row, centre, width);
  else
    memset(row + bytesPerLine, 255, width - bytesPerLine);
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
  Page& page = ReadingPage(*job);
  if (page.lineByLine) {
    FinishLines(*job, page);
  } else {
    HalftoneWholePage(*job, page);
  }
  fprintf(stderr, "DEBUG: ##page is %d, rotate180 is %d\n", page.number, page.turned ? 1 : 0);
  page.coverage = gImageCoverage;
  for (unsigned long i = 0; i < page.images.size(); ++i) SubmitImage(*job, page, i);
  // This page waits to be sent while the next one is read; the one before it goes now. On one
  // thread nothing is gained by waiting: the page goes at once and its bitmap serves the next.
  SendWaitingPage(*job, false);
  if (job->workers->Threads() == 0) {
    SendOrDrop(*job, page);
  } else {
    job->reading = 1 - job->reading;
    job->haveWaiting = true;
  }
  if (Canceled || PrinterOutputFailed()) return 0;
  FlushPrinterOutput();
  g_ismiddlepage = 0;
  return Canceled || PrinterOutputFailed() ? 0 : 1;
}

int PrintJobEnd(PPRINT_JOB job) {
  if (job == nullptr) return 0;
  if (job->pageOpen) PrintPageEnd(job);
  SendWaitingPage(*job, false);
  const unsigned long incompleteBefore = gIncompleteImages;
  if (!job->ended && g_page > 0) {
    SyncSpoolJob(*job, job->lastSentSettings, job->lastSentHeader);
    if (!SpoolEndOfJob(&job->spool)) job->failed = true;
    g_ismiddlepage = 1;
    FlushPrinterOutput();
    job->endDocParam.page = g_page;
    job->endDocParam.bMachDup = Value(job->lastSentSettings, AUTODUPLEX) != 0 ? 1 : 0;
    if (!Prnt_EndDoc(&job->endDocParam, job->lastSentSettings.platform))
      ReportChainedFailure("main() :: End doc Fail ! \n");
    FlushPrinterOutput();
  }
  if (gIncompleteImages != incompleteBefore) {
    // A blank page of the end of the job (a back side) could not be compressed.
    fputs("ERROR: A blank back side was printed incomplete: its image could not be compressed\n", stderr);
    job->failed = true;
  }
  job->ended = true;
  return job->failed || PrinterOutputFailed() ? 0 : 1;
}

void PrintJobRelease(PPRINT_JOB job) {
  g_ismiddlepage = 0;
  if (job == nullptr) return;
  // The workers finish what they hold before the page they read goes; an image waiting for rows
  // that will not come stops waiting.
  for (Page& page : job->pages) page.rows.Abandon();
  job->workers.reset();
  SpoolRemove(&job->spool);
  delete job;
}

void PrintJobCancel(void) { Canceled = 1; }
