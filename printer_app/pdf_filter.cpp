// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// PDF documents through Ghostscript into the raster callbacks.
#include "pdf_filter.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>

#include "job_options.h"
#include "media.h"
#include "models.h"
#include "raster_job.h"

extern char** environ;

namespace {

const int kPollMs = 250;          // how often a job waiting for Ghostscript checks for a cancel
const int kExitGraceMs = 5000;    // how long a cancelled Ghostscript gets before it is killed

// Ghostscript as a child process: its raster on one pipe, its messages on another.
struct Renderer {
  pappl_job_t* job = nullptr;
  pid_t pid = -1;
  int out = -1;
  int err = -1;
  std::string errText;      // message text not yet ended by a line feed
  std::string lastMessage;  // the last message line that was not progress information
  bool canceled = false;
  bool stopped = false;     // the job stopped reading before the end of the raster
};

void LogMessages(Renderer* r, const char* data, size_t size) {
  r->errText.append(data, size);
  size_t start = 0;
  for (size_t end; (end = r->errText.find('\n', start)) != std::string::npos; start = end + 1) {
    std::string line = r->errText.substr(start, end - start);
    if (line.empty()) continue;
    papplLogJob(r->job, PAPPL_LOGLEVEL_DEBUG, "Ghostscript: %s", line.c_str());
    if (line.compare(0, 5, "INFO:") != 0) r->lastMessage = line;
  }
  r->errText.erase(0, start);
}

ssize_t ReadRasterOrMessages(Renderer* r, unsigned char* buffer, size_t length);

// cups_raster_cb_t: Ghostscript's raster, its messages logged meanwhile, a cancel noticed. No
// exception may leave it into libcups: one ends the raster.
ssize_t ReadRaster(void* context, unsigned char* buffer, size_t length) {
  try {
    return ReadRasterOrMessages(static_cast<Renderer*>(context), buffer, length);
  } catch (...) {
    return -1;
  }
}

ssize_t ReadRasterOrMessages(Renderer* r, unsigned char* buffer, size_t length) {
  for (;;) {
    if (papplJobIsCanceled(r->job)) {
      r->canceled = true;
      return -1;
    }
    struct pollfd fds[2] = {{r->out, POLLIN, 0}, {r->err, POLLIN, 0}};
    int ready = poll(fds, r->err >= 0 ? 2 : 1, kPollMs);
    if (ready < 0 && errno != EINTR) return -1;
    if (ready <= 0) continue;
    if (r->err >= 0 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) {
      char text[4096];
      ssize_t n = read(r->err, text, sizeof text);
      if (n > 0) {
        LogMessages(r, text, static_cast<size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        close(r->err);
        r->err = -1;
      }
    }
    if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
      ssize_t n = read(r->out, buffer, length);
      if (n >= 0 || errno != EINTR) return n;
    }
  }
}

bool Spawn(Renderer* r, const std::vector<std::string>& args) {
  int outPipe[2], errPipe[2];
  if (pipe2(outPipe, O_CLOEXEC) != 0) return false;
  if (pipe2(errPipe, O_CLOEXEC) != 0) {
    close(outPipe[0]);
    close(outPipe[1]);
    return false;
  }
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
  // Ghostscript starts with no signal blocked and the usual actions, whatever the server's
  // threads block or ignore.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  for (int signal_number : {SIGPIPE, SIGTERM, SIGINT, SIGHUP}) sigaddset(&defaults, signal_number);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  int status = posix_spawnp(&r->pid, argv[0], &actions, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  close(outPipe[1]);
  close(errPipe[1]);
  if (status != 0) {
    close(outPipe[0]);
    close(errPipe[0]);
    r->pid = -1;
    errno = status;
    return false;
  }
  r->out = outPipe[0];
  r->err = errPipe[0];
  return true;
}

// Waits for Ghostscript; one whose raster is no longer read (a cancelled or failed job) is
// stopped first. Its exit status, -1 when it ended by a signal.
int Finish(Renderer* r) {
  if (r->out >= 0) close(r->out);
  if (r->err >= 0) close(r->err);
  r->out = r->err = -1;
  if (r->pid < 0) return -1;
  int status = 0;
  if (r->canceled || r->stopped) {
    kill(r->pid, SIGTERM);
    for (int waited = 0; waitpid(r->pid, &status, WNOHANG) == 0; waited += 50) {
      if (waited >= kExitGraceMs) {
        kill(r->pid, SIGKILL);
        waitpid(r->pid, &status, 0);
        break;
      }
      usleep(50 * 1000);
    }
  } else {
    while (waitpid(r->pid, &status, 0) < 0 && errno == EINTR) {
    }
  }
  r->pid = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct OptionsDelete {
  void operator()(pappl_pr_options_t* options) const { papplJobDeletePrintOptions(options); }
};

// The page size to render: the paper-table row that the job's media means, in points.
void PageSize(const VARNEL_MODEL* model, const pappl_pr_options_t* options, int* w, int* h) {
  *w = static_cast<int>(PointsFromHundredthsMm(options->media.size_width));
  *h = static_cast<int>(PointsFromHundredthsMm(options->media.size_length));
  const PAPER_SIZE_INFO* table = ModelPaperTable(model);
  int row = FindPaperRow(table, static_cast<unsigned>(*w), static_cast<unsigned>(*h));
  if (row >= 0) {
    *w = table[row].cupsPaperW;
    *h = table[row].cupsPaperH;
  }
}

// 600 dpi, or what the job asked for: a resolution, or high quality on a model whose 1200-dpi
// mode takes 1200-dpi rasters.
int RenderResolution(pappl_job_t* job, const VARNEL_MODEL* model, const pappl_pr_options_t* options) {
  if (papplJobGetAttribute(job, "printer-resolution") != nullptr) return options->printer_resolution[0];
  if (options->print_quality == IPP_QUALITY_HIGH && model->raster1200 && ModelOffers(model, DPI1200)) return 1200;
  return 600;
}

bool FailJob(pappl_job_t* job, const std::string& message) {
  papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", message.c_str());
  papplJobSetMessage(job, "%s", message.c_str());
  return false;
}

bool PrintPdf(pappl_job_t* job, pappl_device_t* device) {
  const VARNEL_MODEL* model = FindModel(papplPrinterGetDriverName(papplJobGetPrinter(job)));
  if (model == nullptr) return FailJob(job, "The printer's driver is not one of this application's.");
  std::unique_ptr<pappl_pr_options_t, OptionsDelete> options(papplJobCreatePrintOptions(job, 0, false));
  if (!options) return FailJob(job, "Out of memory.");
  int w = 0, h = 0;
  PageSize(model, options.get(), &w, &h);
  int dpi = RenderResolution(job, model, options.get());

  Renderer r;
  r.job = job;
  if (!Spawn(&r, GhostscriptArguments(papplJobGetFilename(job), w, h, dpi)))
    return FailJob(job, std::string("Unable to run Ghostscript: ") + strerror(errno));

  cups_raster_t* ras = cupsRasterOpenIO(ReadRaster, &r, CUPS_RASTER_READ);
  bool started = false, ok = ras != nullptr, more = ras != nullptr;
  unsigned page = 0;
  cups_page_header2_t header;
  while (ok && (more = cupsRasterReadHeader2(ras, &header) != 0)) {
    if (!started) {
      options->header = header;
      if (!(started = VarnelStartJob(job, options.get(), device))) break;
    }
    options->header = header;
    ++page;
    papplJobSetImpressionsCompleted(job, 1);
    if (!(ok = VarnelStartPage(job, options.get(), device, page))) break;
    std::vector<unsigned char> line(header.cupsBytesPerLine);
    for (unsigned y = 0; ok && y < header.cupsHeight; ++y) {
      if (cupsRasterReadPixels(ras, line.data(), header.cupsBytesPerLine) == 0) {
        ok = r.canceled;
        break;
      }
      ok = VarnelWriteLine(job, options.get(), device, y, line.data());
    }
    bool pageOk = VarnelEndPage(job, options.get(), device, page);
    ok = ok && pageOk && !r.canceled;
  }
  if (started && !VarnelEndJob(job, options.get(), device)) ok = false;
  if (ras != nullptr) cupsRasterClose(ras);
  r.canceled = r.canceled || papplJobIsCanceled(job);
  r.stopped = more;
  int status = Finish(&r);
  // A job that stopped early has said why; Ghostscript's end tells nothing more.
  if (r.canceled || r.stopped) return false;
  papplJobSetImpressions(job, static_cast<int>(page));
  if (status != 0) {
    papplJobSetReasons(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, PAPPL_JREASON_NONE);
    return FailJob(job, "The PDF document could not be rendered" +
                            (r.lastMessage.empty() ? std::string(".") : ": " + r.lastMessage));
  }
  if (page == 0) {
    papplJobSetReasons(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, PAPPL_JREASON_NONE);
    return FailJob(job, "The PDF document has no pages.");
  }
  return ok;
}

bool PdfFilter(pappl_job_t* job, pappl_device_t* device, void*) {
  try {
    return PrintPdf(job, device);
  } catch (const std::exception& e) {
    return FailJob(job, std::string("Internal error: ") + e.what());
  } catch (...) {
    return FailJob(job, "Internal error.");
  }
}

}  // namespace

std::vector<std::string> GhostscriptArguments(const std::string& pdf, int pointsW, int pointsH, int dpi) {
  // Pages are fitted to the paper (a landscape page is turned onto portrait paper), in 8-bit
  // sGray, 255 = white.
  return {"gs",
          "-q",
          "-dSAFER",
          "-dBATCH",
          "-dNOPAUSE",
          "-dNOINTERPOLATE",
          "-sDEVICE=pwgraster",
          "-dcupsColorSpace=18",
          "-dcupsBitsPerColor=8",
          "-r" + std::to_string(dpi),
          "-dDEVICEWIDTHPOINTS=" + std::to_string(pointsW),
          "-dDEVICEHEIGHTPOINTS=" + std::to_string(pointsH),
          "-dFIXEDMEDIA",
          "-dPDFFitPage",
          "-sOutputFile=-",
          "-f",
          pdf};
}

void AddPdfFilter(pappl_system_t* system) {
  papplSystemAddMIMEFilter(system, "application/pdf", "image/pwg-raster", PdfFilter, nullptr);
}
