// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// pstoVarnel: job flow.
#include "pstoVarnel.h"

#include <cups/cups.h>
#include <dlfcn.h>
#include <signal.h>
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common.h"
#include "copier.h"
#include "options.h"
#include "page_size.h"
#include "pin_print.h"
#include "pjl_text.h"
#include "printer_id.h"

namespace {

constexpr size_t kSpoolBlock = 8192;
const char kEndOfJobSequence[] = "\x04\x1b%-12345X\n";

// Removes the spooled input when the job ends, however it ends.
class SpoolFile {
 public:
  SpoolFile() = default;
  ~SpoolFile() {
    if (!path_.empty()) unlink(path_.c_str());
  }
  SpoolFile(const SpoolFile&) = delete;
  SpoolFile& operator=(const SpoolFile&) = delete;
  std::string& path() { return path_; }

 private:
  std::string path_;
};

void LogArguments(int argc, char* argv[]) {
  for (int i = 0; i < argc; ++i) fprintf(stderr, "test argv[%d] value is  %s\n", i, argv[i]);
}

void InstallCancelHandler() {
  struct sigaction action;
  memset(&action, 0, sizeof action);
  action.sa_handler = cancel_job;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &action, nullptr);
  // A printer link that goes away makes writes fail instead of ending the process, so the
  // job's temporary files are still removed.
  signal(SIGPIPE, SIG_IGN);
}

bool PrinterIsSupported() {
  char device_id[512] = {0};
  int length = 511;
  int got_id = query1284info(device_id, &length);
  return isSupportPrinter(device_id, got_id, &isqd3840);
}

// False (after the user was told) when the job asks for a PIN the printer cannot take.
bool PinIsUsable(const char* options_text) {
  std::string pin;
  if (!ispinPrint(options_text, pin) || isValidPin(pin)) return true;
  ReportUserError("The PIN for secure printing must be four digits (0-9).\n");
  return false;
}

// Page-size decisions of the QD3840 family; false when the custom size cannot be printed.
bool PrepareQd3840Job(char* argv[], const char* path) {
  checkmediasize(argv, path, &width, &height);
  if (ContainsNoCase(argv[5], "collate") && !ContainsNoCase(argv[5], "noCollate")) {
    iscollate = true;
    copies = ParseCopyCount(argv[4]);
  }
  if (!isSupportCustomPageSize(argv[5], path)) {
    sleep(1);
    ReportUserError("The current custom pager cannot be printed,please use the correct paper\n");
    return false;
  }
  isA5Page = isA5PageSize(argv[5], path);
  return true;
}

bool WriteAllToFd(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

void cancel_job(int) {
  job_canceled.store(1);
  static const char message[] = "cancel_job =1\n";
  ssize_t ignored = write(STDERR_FILENO, message, sizeof message - 1);
  (void)ignored;
}

void ReportUserError(const char* message) {
  using PrintFilter = int (*)(FILE*, const char*, const char*, ...);
  auto print = reinterpret_cast<PrintFilter>(dlsym(RTLD_DEFAULT, "_cupsLangPrintFilter"));
  if (print != nullptr)
    print(stderr, "ERROR", "%s", message);
  else
    fprintf(stderr, "ERROR: %s", message);
}

bool is_pdf_content_type() {
  const char* type = getenv("CONTENT_TYPE");
  fprintf(stderr, "CONTENT_TYPE = %s\n", type != nullptr ? type : "(null)");
  const char* final_type = getenv("FINAL_CONTENT_TYPE");
  return final_type != nullptr && ContainsNoCase(final_type, "pdf");
}

bool WriteToPrinter(const std::string& bytes) {
  if (bytes.empty()) return true;
  if (fwrite(bytes.data(), 1, bytes.size(), stdout) == bytes.size()) return true;
  static bool reported = false;
  if (reported) return false;
  reported = true;
  fprintf(stderr, "DEBUG: writing %zu bytes to the printer failed: %s\n", bytes.size(), strerror(errno));
  return false;
}

int isDuplexPrint(const char* options_text, std::string& value_out) {
  if (options_text == nullptr) {
    fputs("ParseOptionSetting is failed,parameter is invalid.\n", stderr);
    return -1;
  }
  ParsedOptions parsed = {nullptr, 0};
  ParseOptionSetting(options_text, &parsed);
  const char* value = cupsGetOption("Duplex", parsed.num_options, parsed.options);
  int result = -1;
  if (value == nullptr) {
    fputs("Get Option of Duplex info is failed!\n", stderr);
  } else {
    value_out = value;
    if (ContainsNoCase(value, "None"))
      result = 0;
    else if (ContainsNoCase(value, "DuplexNoTumble"))
      result = 1;
    else if (ContainsNoCase(value, "DuplexTumble"))
      result = 2;
    else
      result = 3;
  }
  cupsFreeOptions(parsed.num_options, parsed.options);
  return result;
}

bool WritePSdataToStdout(char* argv[], const char* path) {
  return isqd3840 ? CopyForQd3840(argv, path) : CopyForGenericPrinter(argv, path);
}

bool Copy_StdinToTempFile(std::string& path_out) {
  char name[256] = {0};
  int fd = cupsTempFd(name, 255);
  if (fd < 0) {
    fputs("DEBUG: Unable to creat temp file.\n", stderr);
    return false;
  }
  path_out = name;
  fprintf(stderr, "DEBUG:copying to temp print file \"%s\"\n", name);
  std::string tail;  // the last block of the job, where its end-of-job sequence would be
  char block[kSpoolBlock];
  bool ok = true;
  for (;;) {
    ssize_t got = read(STDIN_FILENO, block, sizeof block);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      if (got < 0) ok = false;
      break;
    }
    ok = WriteAllToFd(fd, block, static_cast<size_t>(got)) && ok;
    tail.append(block, static_cast<size_t>(got));
    if (tail.size() > kSpoolBlock) tail.erase(0, tail.size() - kSpoolBlock);
  }
  if (ok && tail.size() > 9 && !ContainsNoCase(tail, "%-12345X")) {
    ok = WriteAllToFd(fd, kEndOfJobSequence, sizeof kEndOfJobSequence - 1);
    fputs("DEBUG: appended the end-of-job sequence\n", stderr);
  }
  if (close(fd) != 0) ok = false;
  if (!ok) fprintf(stderr, "DEBUG: spooling the job to \"%s\" failed: %s\n", name, strerror(errno));
  return ok;
}

int pstoVarnel_main(int argc, char* argv[]) {
  setlocale(LC_ALL, "");
  setbuf(stderr, nullptr);
  InstallCancelHandler();
  if (argc != 6 && argc != 7) {
    fputs("ERROR: job-id user title copies options [file]\n", stderr);
    return 1;
  }
  LogArguments(argc, argv);
  if (!PrinterIsSupported()) {
    sleep(1);
    ReportUserError("The current printer is not available,please use the correct printer.\n");
    return 1;
  }
  if (!PinIsUsable(argv[5])) return 1;
  SpoolFile spool;  // never argv[6]: that file belongs to CUPS
  std::string path;
  if (argc == 6) {
    if (!Copy_StdinToTempFile(spool.path())) {
      fputs("ERROR: Unable to spool the print job.\n", stderr);
      return 1;
    }
    path = spool.path();
  } else {
    path = argv[6];
  }
  if (isqd3840 && !PrepareQd3840Job(argv, path.c_str())) return 1;
  if (!WritePSdataToStdout(argv, path.c_str())) {
    fprintf(stderr, "ERROR: Unable to open the print file \"%s\".\n", path.c_str());
    return 1;
  }
  fflush(stdout);
  return 0;
}
