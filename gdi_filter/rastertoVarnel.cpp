// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// rastertoVarnel: job flow and page loop of the host-based raster filter.
#include "rastertoVarnel.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common.h"
#include "cupsdll.h"
#include "page_params.h"
#include "page_transform.h"
#include "paper_tables.h"
#include "print_options.h"
#include "prnt.h"
#include "raster_input.h"
#include "spool.h"

namespace {

const long kKeepAliveIntervalMs = 10000;
const unsigned short kLongEdgeFeed = 64;

struct RasterJob {
  int argc = 0;
  char** argv = nullptr;
  int fd = 0;
  RASTER_INPUT input;
  cups_raster_t* ras = nullptr;
  ppd_file_t* ppd = nullptr;
  cups_page_header2_t header{};
  int num_option = 0;
  cups_option_t* options = nullptr;
  PRINT_FUNC_INFO prntFuncInfo[PRINT_FUNC_COUNT];
  int platform = PLATFORM_UNKNOWN;
  PAPER_SIZE_INFO* paperSizeArray = nullptr;
  int iSupportManDuplex = 0;
  int mDuplexType = 0;
  int b2Bit = 0;
  unsigned int iCopies = 1;
  char DuplexMsg[1024] = {0};
  char PlatformMsg[1024] = {0};
  char SupportManualDuplex[1024] = {0};
  std::string parameters;
  GDI_START_DOC_PARAM startDocParam{};
  GDI_START_PAGE_PARAM startPageParam{};
  GDI_SEND_PAGE_PARAM sendPageParam{};
  GDI_END_PAGE_PARAM endPageParam{};
  GDI_END_DOC_PARAM endDocParam{};
  PAGE_GEOMETRY geometry{};
  PAGE_BUFFERS buffers;
  SPOOL_JOB spool{};
  bool keepAliveStarted = false;
  bool failed = false;  // the job ends with status 1 whatever was printed
};

int Value(const RasterJob& job, FuncName slot) { return job.prntFuncInfo[slot].value; }

// Prints the error chain as CUPS log lines on standard error: standard output is printer data.
void PrintErrorChain() {
  const char* line = prntLastError;
  while (*line != '\0') {
    const char* end = strchr(line, '\n');
    int length = end != nullptr ? static_cast<int>(end - line) : static_cast<int>(strlen(line));
    fprintf(stderr, "ERROR: %.*s\n", length, line);
    line += length + (end != nullptr ? 1 : 0);
  }
}

// A failed document or page step: its text goes in front of the chain, and the chain is logged.
void ReportFailure(const char* message) {
  PrependLastError(message);
  PrintErrorChain();
}

void StopKeepAlive() {
  struct itimerval off {};
  setitimer(ITIMER_REAL, &off, nullptr);
}

// ---- Start-up ----

bool OpenRasterFile(RasterJob& job) {
  if (job.argc != 7) return true;
  job.fd = open(job.argv[6], O_RDONLY);
  if (job.fd >= 0) return true;
  fprintf(stderr, "ERROR: Unable to open raster file - %s\n", strerror(errno));
  sleep(1);
  job.fd = 0;
  return false;
}

bool OpenRasterStream(RasterJob& job) {
  if (OpenRasterInput(&job.input, job.fd)) job.ras = pfcupsRasterOpenIO(ReadRasterInput, &job.input, CUPS_RASTER_READ);
  if (job.ras != nullptr) return true;
  fputs("ERROR: Unable to read the job: the input is not a CUPS raster stream\n", stderr);
  return false;
}

bool OpenPPD(RasterJob& job) {
  const char* path = getenv("PPD");
  if (path == nullptr || *path == '\0') {
    fputs("ERROR: The PPD environment variable is not set\n", stderr);
    return false;
  }
  job.ppd = pfppdOpenFile(path);
  if (job.ppd == nullptr) {
    fprintf(stderr, "ERROR: Unable to open the PPD file %s\n", path);
    return false;
  }
  if (job.ppd->modelname == nullptr || job.ppd->modelname[0] == '\0') {
    fprintf(stderr, "ERROR: The PPD file %s has no ModelName\n", path);
    return false;
  }
  snprintf(gPPDFile, sizeof gPPDFile, "%s", job.ppd->modelname);
  return true;
}

bool DeviceSupported(const RasterJob& job) {
  const char* nickName = job.ppd->shortnickname;
  if (nickName == nullptr || nickName[0] == '\0') return true;
  return checkPrinter1284(nickName);
}

// ---- Per-page settings ----

bool PPDText(RasterJob& job, const char* keyword, char* buffer) {
  return pfppdLocalizeIPPReason(job.ppd, keyword, nullptr, buffer, 1024) != nullptr;
}

void ChoosePlatform(RasterJob& job) {
  job.paperSizeArray = GetPaperSizeArray(gPPDFile, &job.platform);
  if (!PPDText(job, "PlatForm", job.PlatformMsg) || job.platform != PLATFORM_UNKNOWN) return;
  if (!strcasecmp(job.PlatformMsg, "PLATFORM_M")) {
    job.platform = PLATFORM_M;
    job.paperSizeArray = gPaperSizeArray_VK8388_VT8674;
  } else if (!strcasecmp(job.PlatformMsg, "PLATFORM_C")) {
    job.platform = PLATFORM_C;
    job.paperSizeArray = gPaperSizeArray_QD3820;
  } else if (!strcasecmp(job.PlatformMsg, "PLATFORM_Z")) {
    job.platform = PLATFORM_Z;
    job.paperSizeArray = gPaperSizeArray_VK8244_VT9366;
  }
}

void ReadManualDuplexSupport(RasterJob& job) {
  if (PPDText(job, "SupportManualDuplex", job.SupportManualDuplex) && job.iSupportManDuplex != 1)
    job.iSupportManDuplex = !strcasecmp(job.SupportManualDuplex, "TRUE") ? 1 : 0;
  fprintf(stderr, "-------SupportManualDuplex is %d\n", job.iSupportManDuplex);
}

void ParseJobOptions(RasterJob& job) {
  cupsFreeOptions(job.num_option, job.options);
  job.options = nullptr;
  const char* text = job.argv[5];
  if (job.platform == PLATFORM_Z) {
    job.parameters = job.argv[5];
    checkOptionKey(job.parameters, job.argv[5], job.ppd);
    text = job.parameters.c_str();
  }
  job.num_option = pfcupsParseOptions(text, 0, &job.options);
}

// Automatic duplex is printed as manual duplex on Z printers that only offer that.
void ApplyManualDuplexConversion(RasterJob& job) {
  if (Value(job, AUTODUPLEX) == 0 || job.platform != PLATFORM_Z || job.iSupportManDuplex != 1) return;
  if (Value(job, AUTODUPLEX) == 2) job.mDuplexType = 1;
  job.prntFuncInfo[MANUALDUPLEX].value = 1;
  job.prntFuncInfo[AUTODUPLEX].value = 0;
  fprintf(stderr, "DEBUG: ##ManualDuplex = %d, type is %d\n", 1, job.mDuplexType);
}

void UpdatePageSettings(RasterJob& job) {
  ChoosePlatform(job);
  ReadManualDuplexSupport(job);
  ParseJobOptions(job);
  GetFunctionValue(job.prntFuncInfo, job.num_option, job.options, &job.header);
  fprintf(stderr, "DEBUG: ##platform = %d, ##autoduplex = %d\n", job.platform, Value(job, AUTODUPLEX));
  ApplyManualDuplexConversion(job);
  if (Value(job, MANUALDUPLEX) == 1) PPDText(job, "MDuplex", job.DuplexMsg);
  if (Value(job, DPI1200) == 1 && job.platform == PLATFORM_M) job.b2Bit = 1;
}

void SyncSpoolJob(RasterJob& job) {
  job.spool.iCopies = job.iCopies;
  job.spool.collate = Value(job, COLLATE);
  job.spool.manualDuplex = Value(job, MANUALDUPLEX);
  job.spool.autoDuplex = Value(job, AUTODUPLEX);
  job.spool.reverse = Value(job, REVERSE);
  job.spool.platform = job.platform;
  job.spool.duplexMsg = job.DuplexMsg;
  job.spool.lastHeader = job.header;
  job.spool.startPageParam = &job.startPageParam;
}

// ---- First page ----

// false when the spool files cannot be created: the job then ends at once with status 1.
bool FirstPageSetUp(RasterJob& job) {
  job.iCopies = job.header.NumCopies;
  if ((job.platform == PLATFORM_C || job.platform == PLATFORM_Z) && !job.keepAliveStarted) {
    StartKeepAlive(kKeepAliveIntervalMs);
    job.keepAliveStarted = true;
  }
  FillStartDocParam(job.argv[1], job.argv[3], job.prntFuncInfo, job.platform, job.iSupportManDuplex,
                    &job.startDocParam);
  g_ismiddlepage = 1;
  if (!Prnt_StartDoc(&job.startDocParam, job.platform)) ReportFailure("main() :: Start doc Fail ! \n");
  fflush(stdout);
  g_ismiddlepage = 0;
  SyncSpoolJob(job);
  return SpoolSetUp(&job.spool, &job.header) != 0;
}

// ---- One page ----

// Each raster line is read straight into its image row when it fits there; a wider line is read
// aside and cropped around its centre. Every image row ends up written exactly once: rows of the
// raster, white beyond its width and below its last line, so nothing of an earlier page of the
// job shows through the page buffer.
void ReadPageLines(RasterJob& job) {
  const cups_page_header2_t& h = job.header;
  const size_t width = job.geometry.fwImgWPixel;
  const unsigned int height = job.geometry.fwImgHPixel;
  const unsigned int bytesPerLine = h.cupsBytesPerLine;
  const bool lineFitsRow = bytesPerLine <= width;
  unsigned char* image = job.buffers.pGrayImgBuf.get();
  unsigned char* line = job.buffers.pGrayImgLineBuf.get();
  unsigned int rowsRead = 0;
  for (unsigned int y = 0; y < h.cupsHeight; ++y) {
    if (Canceled) break;
    if (y % 128 == 0)
      fprintf(stderr, "INFO: Printing page %d, %u%% complete...\n", g_page,
              static_cast<unsigned>(static_cast<unsigned long long>(y) * 100 / h.cupsHeight));
    unsigned char* row = y < height ? image + y * width : nullptr;
    unsigned char* target = row != nullptr && lineFitsRow ? row : line;
    // A line that cannot be read ends the page; its rows stay white (also when a cancel cut it).
    if (pfcupsRasterReadPixels(job.ras, target, bytesPerLine) == 0) break;
    if (row == nullptr) continue;  // below the paper: read and dropped
    if (lineFitsRow)
      memset(row + bytesPerLine, 255, width - bytesPerLine);
    else
      memcpy(row, line + (bytesPerLine - width) / 2, width);  // centred crop
    rowsRead = y + 1;
  }
  memset(image + rowsRead * width, 255, (height - rowsRead) * width);
}

void StartPage(RasterJob& job) {
  FillStartPageParam(&job.header, job.prntFuncInfo, job.platform, job.b2Bit, g_page, &job.geometry,
                     &job.startPageParam);
  g_ismiddlepage = 1;
  if (!Prnt_StartPage(&job.startPageParam, job.platform)) ReportFailure("main() :: Start page Fail ! \n");
  fflush(stdout);
  g_ismiddlepage = 0;
}

void TurnPage(RasterJob& job, unsigned int* width, unsigned int* height, unsigned int* realWidth) {
  int rotate = DecideRotate180(job.prntFuncInfo, g_page, job.startPageParam.feedEdge, job.platform, job.mDuplexType);
  fprintf(stderr, "DEBUG: ##page is %d, rotate180 is %d\n", g_page, rotate);
  unsigned char* gray = job.buffers.pGrayImgBuf.get();
  if (rotate == 1 && !Rotate180(reinterpret_cast<char*>(gray), *width, *height))
    ReportFailure("main() :: Rotate 180 Fail. \n");
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

void SendAndEndPage(RasterJob& job, unsigned int width, unsigned int height) {
  FillSendPageParam(&job.header, job.platform, job.b2Bit, width, height, job.buffers.pMonoImgBuf.get(),
                    &job.sendPageParam);
  g_ismiddlepage = 1;
  if (!Prnt_SendPage(&job.sendPageParam, job.platform)) ReportFailure("main() :: Send page Fail!\n");
  fflush(stdout);
  FillEndPageParam(&job.header, job.prntFuncInfo, g_page, &job.endPageParam);
  if (!Prnt_EndPage(&job.endPageParam, job.platform)) ReportFailure("main() :: End page Fail ! \n");
  fflush(stdout);
  g_ismiddlepage = 0;
}

enum class Next { kNextPage, kEndOfJob, kCleanUp };

// Everything after the start-of-page record: raster, rotation, halftone, image and end of page.
Next ProducePage(RasterJob& job) {
  if (!PreparePageBuffers(&job.buffers, job.header.cupsBytesPerLine, job.geometry.fwImgWPixel,
                          job.geometry.fwImgHPixel, job.b2Bit)) {
    SetLastError("main() :: Malloc pGrayImgLineBuf or pMonoImgLineBuf or pMonoImgBuf Fail ! \n");
    PrintErrorChain();
    return Next::kEndOfJob;
  }
  ReadPageLines(job);
  // The M platform cannot take a cut page: a cancelled page gets no further records.
  if (Canceled && job.platform == PLATFORM_M) return Next::kCleanUp;

  unsigned int width = job.geometry.fwImgWPixel;
  unsigned int height = job.geometry.fwImgHPixel;
  unsigned int realWidth = 0;
  TurnPage(job, &width, &height, &realWidth);
  HalftoneDither(job.buffers.pGrayImgBuf.get(), width, height, job.buffers.pMonoImgBuf.get(), realWidth,
                 Value(job, NEGATIVEPRINT), Value(job, DPI1200), job.platform);
  SendAndEndPage(job, width, height);
  if (Canceled) return Next::kEndOfJob;
  fflush(stdout);
  g_ismiddlepage = 0;
  return Canceled ? Next::kEndOfJob : Next::kNextPage;
}

Next ProcessPage(RasterJob& job) {
  Next stop = g_page > 0 ? Next::kEndOfJob : Next::kCleanUp;
  // Read into a scratch header: a refused page must not replace the last page's header, which
  // a blank back side at the end of the job still describes itself with.
  cups_page_header2_t next;
  if (pfcupsRasterReadHeader2(job.ras, &next) == 0) {
    fputs("DEBUG: cupsRasterReadHeader2 return failure/end-of-file.\n", stderr);
    return stop;
  }
  fputs("DEBUG: cupsRasterReadHeader2 return OK.\n", stderr);
  log_page_header2(&next);
  if (Canceled) return stop;
  if (!CheckPageHeader(&next, job.ppd->custom_margins, g_page + 1)) return stop;
  job.header = next;

  ++g_page;
  fprintf(stderr, "PAGE: %d %d\n", g_page, static_cast<int>(job.header.NumCopies));
  UpdatePageSettings(job);
  if (g_page == 1 && !FirstPageSetUp(job)) {
    job.failed = true;
    return Next::kCleanUp;
  }
  SyncSpoolJob(job);
  SpoolRoutePage(&job.spool);

  if (job.paperSizeArray != nullptr)
    isCutThePaper(&job.header, job.paperSizeArray, job.num_option, job.options);
  if (!ComputePageGeometry(&job.header, job.paperSizeArray, job.platform, job.ppd->custom_margins,
                           &job.prntFuncInfo[LONGEDGEFEED].value, g_page, &job.geometry, &job.startPageParam))
    return Next::kEndOfJob;
  StartPage(job);
  return ProducePage(job);
}

// ---- End of job and clean-up ----

void EndOfJob(RasterJob& job) {
  SyncSpoolJob(job);
  if (!SpoolEndOfJob(&job.spool)) job.failed = true;
  g_ismiddlepage = 1;
  fflush(stdout);
  job.endDocParam.page = g_page;
  job.endDocParam.bMachDup = Value(job, AUTODUPLEX) != 0 ? 1 : 0;
  if (!Prnt_EndDoc(&job.endDocParam, job.platform)) ReportFailure("main() :: End doc Fail ! \n");
  fflush(stdout);
}

int CleanUp(RasterJob& job) {
  StopKeepAlive();
  SpoolRemove(&job.spool);
  ReleasePageBuffers(&job.buffers);
  cupsFreeOptions(job.num_option, job.options);
  job.options = nullptr;
  if (job.ppd != nullptr) pfppdClose(job.ppd);
  if (job.ras != nullptr) pfcupsRasterClose(job.ras);
  if (job.fd != 0) close(job.fd);
  CloseCUPSDLL();
  if (Value(job, MANUALDUPLEX) == 1) sleep(10);  // let the printer show the turn-over message
  g_ismiddlepage = 0;
  if (job.failed) return 1;
  fputs(g_page != 0 ? "INFO: Ready to print.\n" : "ERROR: No pages found!\n", stderr);
  return g_page != 0 ? 0 : 1;
}

// Start-up failed before any printer data: close what is open and end with status 1.
int AbortStartUp(RasterJob& job) {
  job.failed = true;
  return CleanUp(job);
}

}  // namespace

int rastertoVarnel_main(int argc, char* argv[]) {
  InitCUPSIMAGEDLL();
  InitCUPSDLL();
  setbuf(stderr, nullptr);
  RasterJob job;
  job.argc = argc;
  job.argv = argv;
  InitPrintFuncInfo(job.prntFuncInfo);
  g_ismiddlepage = 1;

  if (argc != 6 && argc != 7) {
    fputs("ERROR: job-id user title copies options [file]\n", stderr);
    return AbortStartUp(job);
  }
  if (!OpenRasterFile(job) || !OpenRasterStream(job)) return AbortStartUp(job);
  Canceled = 0;
  InstallCancelHandler();
  if (!OpenPPD(job)) return AbortStartUp(job);

  g_page = 0;
  if (DeviceSupported(job)) {
    Next next = Next::kNextPage;
    while (next == Next::kNextPage) next = ProcessPage(job);
    if (next == Next::kEndOfJob) EndOfJob(job);
  }
  return CleanUp(job);
}
