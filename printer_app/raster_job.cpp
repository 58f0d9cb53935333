// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// PAPPL's raster callbacks on the print core.
#include "raster_job.h"

#include <cstdint>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>
#include <new>
#include <string>

#include "common.h"
#include "device_output.h"
#include "job_options.h"
#include "log_bridge.h"
#include "media.h"
#include "models.h"
#include "page_params.h"
#include "print_job.h"

namespace {

// How long the printer shows that the stack must be turned over after the back sides were sent.
const int kTurnOverNoticeSeconds = 60;
// How often a job waiting for the one before it checks whether it was cancelled meanwhile.
const int kSlotPollMs = 250;

// One job at a time in the process: the core keeps its job in globals.
std::timed_mutex gJobSlot;

struct AppJob {
  pappl_job_t* job = nullptr;
  pappl_printer_t* printer = nullptr;
  const VARNEL_MODEL* model = nullptr;
  PAGE_SETTINGS settings{};
  JOB_REQUEST request;
  std::string jobId;
  std::string jobName;
  std::unique_ptr<DeviceOutput> output;
  PPRINT_JOB print = nullptr;
  unsigned copies = 1;
  unsigned pages = 0;        // pages started
  bool blackPage = false;    // the page's samples are black levels (0 = white): turned to grey
  bool failed = false;       // the job ends aborted
  std::string lastError;     // the last ERROR line of the core, for the job's message
};

AppJob* JobData(pappl_job_t* job) { return static_cast<AppJob*>(papplJobGetData(job)); }

// ---- Job slot ----

bool AcquireJobSlot(pappl_job_t* job) {
  pappl_printer_t* printer = papplJobGetPrinter(job);
  pappl_system_t* system = papplPrinterGetSystem(printer);
  bool logged = false;
  while (!gJobSlot.try_lock_for(std::chrono::milliseconds(kSlotPollMs))) {
    if (papplJobIsCanceled(job) || !papplSystemIsRunning(system)) return false;
    if (!logged) papplLogJob(job, PAPPL_LOGLEVEL_INFO, "Waiting for the job being printed to end.");
    logged = true;
  }
  return true;
}

// ---- Printer output and log ----

ssize_t OutputWrite(void* context, const void* data, size_t count) {
  return static_cast<DeviceOutput*>(context)->Write(data, count);
}

int OutputFlush(void* context) { return static_cast<DeviceOutput*>(context)->Flush(); }

bool CoreIsQuiet() { return g_ismiddlepage == 0; }

bool ClearTurnOverNotice(pappl_system_t* system, void* data) {
  pappl_printer_t* printer = papplSystemFindPrinter(system, nullptr, static_cast<int>(reinterpret_cast<intptr_t>(data)), nullptr);
  if (printer != nullptr) papplPrinterSetReasons(printer, PAPPL_PREASON_NONE, PAPPL_PREASON_MEDIA_NEEDED);
  return false;
}

// The stack must be turned over: the printer says so (media-needed) and the job shows the text.
void ShowTurnOver(AppJob* app, const char* text) {
  papplJobSetMessage(app->job, "%s", text);
  papplPrinterSetReasons(app->printer, PAPPL_PREASON_MEDIA_NEEDED, PAPPL_PREASON_NONE);
  papplSystemAddTimerCallback(papplPrinterGetSystem(app->printer), time(nullptr) + kTurnOverNoticeSeconds, 0,
                              ClearTurnOverNotice,
                              reinterpret_cast<void*>(static_cast<intptr_t>(papplPrinterGetID(app->printer))));
}

void JobLogLine(void* context, pappl_loglevel_t level, const char* text) {
  AppJob* app = static_cast<AppJob*>(context);
  papplLogJob(app->job, level, "%s", text);
  try {
    if (level == PAPPL_LOGLEVEL_ERROR) app->lastError = text;
  } catch (...) {
  }
  if (level == PAPPL_LOGLEVEL_INFO && app->settings.prntFuncInfo[MANUALDUPLEX].value == 1 &&
      app->settings.duplexMsg != nullptr && strcmp(text, app->settings.duplexMsg) == 0)
    ShowTurnOver(app, text);
}

// ---- Job settings ----

JOB_REQUEST RequestOf(pappl_job_t* job, const pappl_pr_options_t* options, const VARNEL_MODEL* model) {
  JOB_REQUEST request;
  request.sides = options->sides == PAPPL_SIDES_TWO_SIDED_LONG_EDGE    ? kTwoSidedLongEdge
                  : options->sides == PAPPL_SIDES_TWO_SIDED_SHORT_EDGE ? kTwoSidedShortEdge
                                                                        : kOneSided;
  if (ModelOffers(model, DENSITY)) request.darkness = options->darkness_configured + options->print_darkness;
  request.quality = static_cast<int>(options->print_quality);
  request.mediaSource = options->media.source;
  request.resolutionX = static_cast<int>(options->header.HWResolution[0]);
  const char* handling = ippGetString(papplJobGetAttribute(job, "multiple-document-handling"), 0, nullptr);
  if (handling != nullptr) request.collate = strcmp(handling, "separate-documents-uncollated-copies") != 0 ? 1 : 0;
  for (int i = 0; i < options->num_vendor; ++i) request.vendor.emplace_back(options->vendor[i].name, options->vendor[i].value);
  return request;
}

void FillSettings(AppJob* app, const pappl_pr_options_t* options) {
  const VARNEL_MODEL* model = app->model;
  PAGE_SETTINGS& s = app->settings;
  s.platform = model->platform;
  s.paperSizeArray = ModelPaperTable(model);
  app->request = RequestOf(app->job, options, model);
  FillPrintFunctions(model, app->request, s.prntFuncInfo);
  s.iSupportManDuplex = model->supportManualDuplex;
  s.mDuplexType = 0;
  ApplyManualDuplexConversion(&s);
  s.duplexMsg = model->duplexMsg;
  memcpy(s.customMargins, model->customMargins, sizeof s.customMargins);
  app->jobId = std::to_string(papplJobGetID(app->job));
  const char* name = papplJobGetName(app->job);
  app->jobName = name != nullptr ? name : "";
  s.jobId = app->jobId.c_str();
  s.jobName = app->jobName.c_str();
}

// Ends what StartJob set up; the job's slot is given back.
void ReleaseJob(AppJob* app) {
  if (app->output) app->output->StopKeepAlive();
  PrintJobRelease(app->print);
  app->print = nullptr;
  SetPrinterOutput(nullptr);
  SetLogReceiver(nullptr, nullptr);
  papplJobSetData(app->job, nullptr);
  delete app;
  gJobSlot.unlock();
}

bool Fail(AppJob* app, const std::string& message) {
  app->failed = true;
  papplLogJob(app->job, PAPPL_LOGLEVEL_ERROR, "%s", message.c_str());
  papplJobSetMessage(app->job, "%s", message.c_str());
  return false;
}

// The printer output failed, or the job was cancelled: the caller stops feeding pages.
bool Stopped(AppJob* app) {
  if (papplJobIsCanceled(app->job)) {
    PrintJobCancel();
    return true;
  }
  if (app->output->Failed()) return !Fail(app, "Unable to send the job to the printer: " + app->output->Error());
  return false;
}

// A page header the core takes: 8-bit grey (black pages are turned to grey line by line), the
// page size of the paper-table row it means, the job's copies.
bool PreparePageHeader(AppJob* app, const cups_page_header2_t& in, cups_page_header2_t* out, unsigned page) {
  *out = in;
  const unsigned space = RawEnum(in.cupsColorSpace);
  app->blackPage = space == CUPS_CSPACE_K;
  if (app->blackPage) out->cupsColorSpace = CUPS_CSPACE_SW;
  const unsigned xres = in.HWResolution[0], yres = in.HWResolution[1];
  const bool res1200 = app->model->raster1200 && ModelOffers(app->model, DPI1200);
  if (xres != yres || (xres != 600 && !(res1200 && xres == 1200))) {
    Fail(app, "Page " + std::to_string(page) + ": the resolution " + std::to_string(xres) + "x" + std::to_string(yres) +
                  " dpi is not supported by this printer");
    return false;
  }
  int row = FindPaperRow(app->settings.paperSizeArray, in.PageSize[0], in.PageSize[1]);
  if (row >= 0) {
    out->PageSize[0] = static_cast<unsigned>(app->settings.paperSizeArray[row].cupsPaperW);
    out->PageSize[1] = static_cast<unsigned>(app->settings.paperSizeArray[row].cupsPaperH);
  }
  // A raster job's pages bring their own resolution.
  ApplyRasterResolution(app->model, app->request, static_cast<int>(xres), app->settings.prntFuncInfo);
  out->NumCopies = app->copies;
  out->cupsMediaType = 0;
  out->Duplex = app->settings.prntFuncInfo[AUTODUPLEX].value != 0 ? CUPS_TRUE : CUPS_FALSE;
  out->Tumble = app->settings.prntFuncInfo[AUTODUPLEX].value == 2 ? CUPS_TRUE : CUPS_FALSE;
  // The custom sizes the application offers are the range of the paper table, so the table bounds
  // the page: a larger one (PWG raster brings its own page size) would only cost memory.
  if (!CheckPageHeader(out, app->settings.customMargins, static_cast<int>(page)) ||
      !CheckPageSize(out, app->settings.paperSizeArray, nullptr, static_cast<int>(page))) {
    Fail(app, app->lastError.empty() ? "Page " + std::to_string(page) + ": the raster cannot be printed" : app->lastError);
    return false;
  }
  return true;
}

bool SetUpJob(AppJob* app, pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device,
              const VARNEL_MODEL* model);

bool StartJob(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device) {
  const VARNEL_MODEL* model = FindModel(papplPrinterGetDriverName(papplJobGetPrinter(job)));
  if (model == nullptr) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "The printer's driver is not one of this application's.");
    return false;
  }
  if (!AcquireJobSlot(job)) return false;
  AppJob* app = new (std::nothrow) AppJob();
  if (app == nullptr) {
    gJobSlot.unlock();
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Out of memory.");
    return false;
  }
  try {
    return SetUpJob(app, job, options, device, model);
  } catch (...) {
    ReleaseJob(app);
    throw;
  }
}

bool SetUpJob(AppJob* app, pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device,
              const VARNEL_MODEL* model) {
  app->job = job;
  app->printer = papplJobGetPrinter(job);
  app->model = model;
  papplJobSetData(job, app);
  papplPrinterSetReasons(app->printer, PAPPL_PREASON_NONE, PAPPL_PREASON_MEDIA_NEEDED);

  FillSettings(app, options);
  // The core makes the copies (collated or not); PAPPL renders each page once.
  app->copies = options->copies > 0 ? static_cast<unsigned>(options->copies) : 1;
  options->copies = 1;
  snprintf(gPPDFile, sizeof gPPDFile, "%s", model->modelName);

  app->output.reset(new (std::nothrow) DeviceOutput(device));
  app->print = app->output ? PrintJobBegin() : nullptr;
  if (app->print == nullptr) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Out of memory.");
    ReleaseJob(app);
    return false;
  }
  PRINTER_OUTPUT target = {OutputWrite, OutputFlush, app->output.get()};
  SetPrinterOutput(&target);
  SetLogReceiver(JobLogLine, app);
  if (PrintJobNeedsKeepAlive(app->settings.platform)) app->output->StartKeepAlive(kKeepAliveIntervalMs, CoreIsQuiet);
  papplLogJob(job, PAPPL_LOGLEVEL_INFO, "Printing for %s (platform %d), %u cop%s.", model->makeAndModel,
              model->platform, app->copies, app->copies == 1 ? "y" : "ies");
  return true;
}

bool StartPage(pappl_job_t* job, pappl_pr_options_t* options, unsigned page) {
  AppJob* app = JobData(job);
  if (app == nullptr || Stopped(app)) return false;
  cups_page_header2_t header;
  if (!PreparePageHeader(app, options->header, &header, page)) return false;
  ++app->pages;
  if (!PrintPageBegin(app->print, &header, &app->settings))
    return Fail(app, app->lastError.empty() ? "Page " + std::to_string(page) + " could not be started" : app->lastError);
  return !Stopped(app);
}

bool WriteLine(pappl_job_t* job, pappl_pr_options_t* options, const unsigned char* line) {
  AppJob* app = JobData(job);
  if (app == nullptr) return false;
  if (papplJobIsCanceled(job)) PrintJobCancel();
  const size_t length = options->header.cupsBytesPerLine;
  if (app->blackPage) {
    unsigned char* room = PrintPageLine(app->print);
    if (room != nullptr) {
      for (size_t i = 0; i < length; ++i) room[i] = static_cast<unsigned char>(255 - line[i]);
      PrintPageLineDone(app->print);
    }
  } else {
    PrintPageWriteLine(app->print, line, length);
  }
  return !app->output->Failed();
}

bool EndPage(pappl_job_t* job) {
  AppJob* app = JobData(job);
  if (app == nullptr) return false;
  if (papplJobIsCanceled(job)) PrintJobCancel();
  bool goesOn = PrintPageEnd(app->print) != 0;
  if (Stopped(app)) return papplJobIsCanceled(job);
  if (!goesOn) return Fail(app, app->lastError.empty() ? "The page could not be printed" : app->lastError);
  return true;
}

bool FinishJob(AppJob* app) {
  pappl_job_t* job = app->job;
  if (papplJobIsCanceled(job)) PrintJobCancel();
  bool ended = PrintJobEnd(app->print) != 0;
  app->output->Flush();
  app->output->StopKeepAlive();
  bool ok = !app->failed;
  if (app->output->Failed()) {
    ok = Fail(app, "Unable to send the job to the printer: " + app->output->Error());
  } else if (!ended) {
    ok = Fail(app, app->lastError.empty() ? "The job could not be printed" : app->lastError);
  } else if (ok && !papplJobIsCanceled(job) && app->copies > 1) {
    // PAPPL counted each page once; the core printed the further copies.
    papplJobSetImpressionsCompleted(job, static_cast<int>(app->pages * (app->copies - 1)));
  }
  unsigned long fillers = app->output->KeepAliveCount();
  if (fillers > 0) papplLogJob(job, PAPPL_LOGLEVEL_DEBUG, "Sent %lu keep-alive filler pairs.", fillers);
  return ok;
}

// No exception leaves a PAPPL callback: one that gets here fails the job.
template <typename Body>
bool Guarded(pappl_job_t* job, Body body) {
  try {
    return body();
  } catch (const std::exception& e) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Internal error: %s", e.what());
  } catch (...) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Internal error.");
  }
  AppJob* app = JobData(job);
  if (app != nullptr) app->failed = true;
  return false;
}

}  // namespace

bool VarnelStartJob(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device) {
  return Guarded(job, [&] { return StartJob(job, options, device); });
}

bool VarnelStartPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t*, unsigned page) {
  return Guarded(job, [&] { return StartPage(job, options, page); });
}

bool VarnelWriteLine(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t*, unsigned,
                     const unsigned char* line) {
  return Guarded(job, [&] { return WriteLine(job, options, line); });
}

bool VarnelEndPage(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*, unsigned) {
  return Guarded(job, [&] { return EndPage(job); });
}

bool VarnelEndJob(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*) {
  AppJob* app = JobData(job);
  if (app == nullptr) return false;
  bool ok = Guarded(job, [&] { return FinishJob(app); });
  // Whatever happened, the job's slot is given back for the next job.
  ReleaseJob(app);
  return ok;
}

void SetRasterCallbacks(pappl_pr_driver_data_t* data) {
  data->rstartjob_cb = VarnelStartJob;
  data->rstartpage_cb = VarnelStartPage;
  data->rwriteline_cb = VarnelWriteLine;
  data->rendpage_cb = VarnelEndPage;
  data->rendjob_cb = VarnelEndJob;
}
