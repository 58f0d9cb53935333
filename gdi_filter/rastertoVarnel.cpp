// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// rastertoVarnel: the CUPS filter around the print core. It reads the arguments, the CUPS raster
// stream and the PPD, checks the device, works out each page's settings from the PPD and the job
// options, keeps the printer link alive, hands the raster lines to the core and ends with the
// exit status and log lines that CUPS expects.
#include "rastertoVarnel.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common.h"
#include "cupsdll.h"
#include "page_params.h"
#include "paper_tables.h"
#include "print_job.h"
#include "print_options.h"
#include "prnt.h"
#include "raster_input.h"

namespace {

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
  PAGE_SETTINGS settings{};  // platform, paper table and print functions of the current page
  char DuplexMsg[1024] = {0};
  char PlatformMsg[1024] = {0};
  char SupportManualDuplex[1024] = {0};
  std::string parameters;
  PPRINT_JOB print = nullptr;
  bool keepAliveStarted = false;
  bool failed = false;  // the job ends with status 1 whatever was printed
  bool startFailed = false;  // start-up failed before any page; its reason is logged
  unsigned long long inputAtPageEnd = 0;  // raster bytes read when the last page had its lines
};

int Value(const RasterJob& job, FuncName slot) { return job.settings.prntFuncInfo[slot].value; }

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
  job.settings.paperSizeArray = GetPaperSizeArray(gPPDFile, &job.settings.platform);
  if (!PPDText(job, "PlatForm", job.PlatformMsg) || job.settings.platform != PLATFORM_UNKNOWN) return;
  int platform = GetPlatformFromText(job.PlatformMsg);
  if (platform == PLATFORM_UNKNOWN) return;  // any other text changes nothing
  job.settings.platform = platform;
  job.settings.paperSizeArray = GetPlatformPaperArray(platform);
}

void ReadManualDuplexSupport(RasterJob& job) {
  if (PPDText(job, "SupportManualDuplex", job.SupportManualDuplex) && job.settings.iSupportManDuplex != 1)
    job.settings.iSupportManDuplex = !strcasecmp(job.SupportManualDuplex, "TRUE") ? 1 : 0;
  fprintf(stderr, "-------SupportManualDuplex is %d\n", job.settings.iSupportManDuplex);
}

void ParseJobOptions(RasterJob& job) {
  cupsFreeOptions(job.num_option, job.options);
  job.options = nullptr;
  const char* text = job.argv[5];
  if (job.settings.platform == PLATFORM_Z) {
    job.parameters = job.argv[5];
    checkOptionKey(job.parameters, job.argv[5], job.ppd);
    text = job.parameters.c_str();
  }
  job.num_option = pfcupsParseOptions(text, 0, &job.options);
}

void UpdatePageSettings(RasterJob& job) {
  ChoosePlatform(job);
  ReadManualDuplexSupport(job);
  ParseJobOptions(job);
  GetFunctionValue(job.settings.prntFuncInfo, job.num_option, job.options, &job.header);
  fprintf(stderr, "DEBUG: ##platform = %d, ##autoduplex = %d\n", job.settings.platform, Value(job, AUTODUPLEX));
  ApplyManualDuplexConversion(&job.settings);
  if (Value(job, MANUALDUPLEX) == 1) PPDText(job, "MDuplex", job.DuplexMsg);
}

// ---- One page ----

// The lines go straight from the raster stream into the core's page (no copy on the way). A
// raster that ends before the page does leaves the rest of the page white, and the job fails.
void ReadPageLines(RasterJob& job) {
  const cups_page_header2_t& h = job.header;
  unsigned int y = 0;
  for (; y < h.cupsHeight; ++y) {
    if (Canceled) break;
    if (y % 128 == 0)
      fprintf(stderr, "INFO: Printing page %d, %u%% complete...\n", g_page,
              static_cast<unsigned>(static_cast<unsigned long long>(y) * 100 / h.cupsHeight));
    unsigned char* line = PrintPageLine(job.print);
    if (line == nullptr || pfcupsRasterReadPixels(job.ras, line, h.cupsBytesPerLine) == 0) break;
    PrintPageLineDone(job.print);
  }
  job.inputAtPageEnd = job.input.delivered;
  if (y < h.cupsHeight && !Canceled && !PrinterOutputFailed()) {
    fprintf(stderr, "ERROR: The raster data ended after %u of %u lines of page %d\n", y, h.cupsHeight, g_page);
    job.failed = true;
  }
}

// The header of the next page could not be read: the raster has ended. When the reader took
// bytes of it first, it was cut inside that header (libcups reads an uncompressed raster exactly
// as far as it needs; a compressed one is read ahead, and a cut there looks like its end).
void NoteEndOfRaster(RasterJob& job) {
  fputs("DEBUG: cupsRasterReadHeader2 return failure/end-of-file.\n", stderr);
  if (g_page > 0 && !Canceled && RasterInputIsUncompressed(&job.input) &&
      job.input.delivered > job.inputAtPageEnd) {
    fprintf(stderr, "ERROR: The raster data ended inside the header of page %d\n", g_page + 1);
    job.failed = true;
  }
}

// false when the job goes no further: no next page, or the page could not be printed.
bool ProcessPage(RasterJob& job) {
  // Read into a scratch header: a refused page must not replace the last page's header.
  cups_page_header2_t next;
  if (pfcupsRasterReadHeader2(job.ras, &next) == 0) {
    NoteEndOfRaster(job);
    return false;
  }
  fputs("DEBUG: cupsRasterReadHeader2 return OK.\n", stderr);
  log_page_header2(&next);
  if (Canceled) return false;
  if (!CheckPageHeader(&next, job.ppd->custom_margins, g_page + 1)) {
    job.failed = true;  // the pages after a refused one are not printed
    return false;
  }
  job.header = next;

  UpdatePageSettings(job);
  if (job.settings.paperSizeArray != nullptr)
    isCutThePaper(&job.header, job.settings.paperSizeArray, job.num_option, job.options);
  // The page as the core will take it must fit the printer's paper: a page beyond it would only
  // cost memory (gigabytes at 1200 dpi). A refused page is no page for CUPS either.
  float customMaxSize[2];
  GetCustomMaxSize(job.ppd, customMaxSize);
  if (!CheckPageSize(&job.header, job.settings.paperSizeArray, customMaxSize, g_page + 1)) {
    job.failed = true;
    return false;
  }
  if (g_page == 0 && PrintJobNeedsKeepAlive(job.settings.platform) && !job.keepAliveStarted) {
    StartKeepAlive(kKeepAliveIntervalMs);
    job.keepAliveStarted = true;
  }
  if (!PrintPageBegin(job.print, &job.header, &job.settings)) return false;
  fprintf(stderr, "PAGE: %d %d\n", g_page, static_cast<int>(job.header.NumCopies));
  ReadPageLines(job);
  return PrintPageEnd(job.print) != 0;
}

// ---- Clean-up ----

// The job's last words in the CUPS log and its exit status: 0 only when the job reached the
// printer whole (or was cancelled, which is the user's choice, not a failure).
int FinalStatus(const RasterJob& job) {
  if (Canceled) {
    fputs("DEBUG: The job was canceled.\n", stderr);
    return 0;
  }
  if (PrinterOutputFailed()) {
    fprintf(stderr, "ERROR: Unable to send the print data to the printer: %s\n", strerror(PrinterOutputError()));
    return 1;
  }
  if (job.startFailed) return 1;
  if (g_page == 0) {
    fputs("ERROR: No pages found!\n", stderr);
    return 1;
  }
  if (job.failed) return 1;
  fputs("INFO: Ready to print.\n", stderr);
  return 0;
}

int CleanUp(RasterJob& job) {
  StopKeepAlive();
  PrintJobRelease(job.print);
  job.print = nullptr;
  cupsFreeOptions(job.num_option, job.options);
  job.options = nullptr;
  if (job.ppd != nullptr) pfppdClose(job.ppd);
  if (job.ras != nullptr) pfcupsRasterClose(job.ras);
  if (job.fd != 0) close(job.fd);
  CloseCUPSDLL();
  // Let the printer show the turn-over message; a cancel ends the wait.
  if (Value(job, MANUALDUPLEX) == 1 && !PrinterOutputFailed()) SleepUnlessCanceled(10000);
  return FinalStatus(job);
}

// Start-up failed before any printer data: close what is open and end with status 1.
int AbortStartUp(RasterJob& job) {
  job.startFailed = true;
  return CleanUp(job);
}

}  // namespace

int rastertoVarnel_main(int argc, char* argv[]) {
  // A printer connection closed by the other side must fail the write (EPIPE), so that the job
  // can end with its reason, instead of killing the filter.
  signal(SIGPIPE, SIG_IGN);
  ResetOutputFailures();
  InitCUPSIMAGEDLL();
  InitCUPSDLL();
  setbuf(stderr, nullptr);
  RasterJob job;
  job.argc = argc;
  job.argv = argv;
  InitPrintFuncInfo(job.settings.prntFuncInfo);
  job.settings.duplexMsg = job.DuplexMsg;
  job.settings.jobId = argc > 1 ? argv[1] : "";
  job.settings.jobName = argc > 3 ? argv[3] : "";

  if (argc != 6 && argc != 7) {
    fputs("ERROR: job-id user title copies options [file]\n", stderr);
    return AbortStartUp(job);
  }
  if (!OpenRasterFile(job) || !OpenRasterStream(job)) return AbortStartUp(job);
  job.print = PrintJobBegin();
  if (job.print == nullptr) {
    fputs("ERROR: Unable to start the job: out of memory\n", stderr);
    return AbortStartUp(job);
  }
  InstallCancelHandler();
  if (!OpenPPD(job)) return AbortStartUp(job);
  memcpy(job.settings.customMargins, job.ppd->custom_margins, sizeof job.settings.customMargins);

  // A cancel during the device check (its wait for the backend can be long) ends the job at once.
  if (DeviceSupported(job) && !Canceled) {
    while (ProcessPage(job)) {
    }
    if (!PrintJobEnd(job.print)) job.failed = true;
  }
  return CleanUp(job);
}
