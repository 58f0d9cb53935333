// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// pstoVarnel: job flow.
#include "pstoVarnel.h"

#include <cups/cups.h>
#include <dlfcn.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
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
#include "printer_output.h"

namespace {

constexpr size_t kSpoolBlock = 8192;
const char kEndOfJobSequence[] = "\x04\x1b%-12345X\n";

// The spooled standard input. Its file is removed as soon as it exists, so that no way of ending
// the job (not even SIGKILL) leaves the user's document on disk; the job reads it through the
// descriptor, which the object closes.
class SpoolFile {
 public:
  SpoolFile() = default;
  ~SpoolFile() {
    if (fd_ >= 0) close(fd_);
  }
  SpoolFile(const SpoolFile&) = delete;
  SpoolFile& operator=(const SpoolFile&) = delete;
  int& fd() { return fd_; }

 private:
  int fd_ = -1;
};

// The options are logged with the values of the PIN and password options masked.
void LogArguments(int argc, char* argv[]) {
  for (int i = 0; i < argc; ++i)
    fprintf(stderr, "test argv[%d] value is  %s\n", i, i == 5 ? MaskSecretOptions(argv[i]).c_str() : argv[i]);
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
  if (job_canceled.load() != 0) return false;
  return isSupportPrinter(device_id, got_id, &isqd3840);
}

// False (after the user was told) when the job asks for a PIN the printer cannot take.
bool PinIsUsable(const char* options_text) {
  std::string pin;
  if (!ispinPrint(options_text, pin) || isValidPin(pin)) return true;
  ReportUserError("The PIN for secure printing must be four digits (0-9).\n");
  return false;
}

// False (after the user was told) when the job asks for delayed printing at a time that is no
// time of day.
bool DelayIsUsable(const char* options_text) {
  std::string time_text;
  if (!isDelayPrint(options_text, time_text) || isValidDelayTime(time_text)) return true;
  ReportUserError("The time for delayed printing must be an hour from 0 to 23 and a minute from 0 to 59.\n");
  return false;
}

// False (after an "ERROR: " line) when the file that CUPS names is not one that can be printed.
bool PrintFileIsUsable(const char* path) {
  struct stat info;
  if (stat(path, &info) != 0) {
    ReportPrintFileError("open", path, errno);
    return false;
  }
  if (S_ISDIR(info.st_mode)) {
    ReportPrintFileError("read", path, EISDIR);
    return false;
  }
  return true;
}

// Page-size decisions of the QD3840 family; false when the custom size cannot be printed.
bool PrepareQd3840Job(char* argv[], const char* path) {
  checkmediasize(argv, path, &width, &height);
  if (BooleanInText(argv[5], "Collate") == OptionSwitch::kOn) {
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

void ReportPrintFileError(const char* what, const char* path, int error) {
  fprintf(stderr, "ERROR: Unable to %s the print file \"%s\": %s\n", what, path, strerror(error));
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

namespace {

// The end of the last occurrence of a text (any letter case) in a stream read block by block.
class LastOccurrence {
 public:
  explicit LastOccurrence(std::string needle) : needle_(std::move(needle)) {}
  void Feed(const char* data, size_t size) {
    std::string view = carry_ + std::string(data, size);
    long view_start = read_ - static_cast<long>(carry_.size());
    for (size_t at = FindNoCase(view, needle_); at != std::string::npos; at = FindNoCase(view, needle_, at + 1))
      end_ = view_start + static_cast<long>(at + needle_.size());
    size_t keep = std::min(view.size(), needle_.size() - 1);
    carry_ = view.substr(view.size() - keep);
    read_ += static_cast<long>(size);
  }
  long end() const { return end_; }  // -1 when not found

 private:
  std::string needle_, carry_;
  long read_ = 0;
  long end_ = -1;
};

// True when the spooled job holds nothing but PJL lines after offset: it ends its PJL job itself.
bool OnlyPjlFollows(int fd, long offset) {
  std::string rest;
  char block[4096];
  ssize_t got;
  for (off_t at = offset; rest.size() < 65536 && (got = pread(fd, block, sizeof block, at)) > 0; at += got)
    rest.append(block, static_cast<size_t>(got));
  for (size_t start = 0; start < rest.size();) {
    size_t end = rest.find('\n', start);
    std::string line = rest.substr(start, end == std::string::npos ? std::string::npos : end - start);
    bool blank = std::all_of(line.begin(), line.end(), [](char c) { return static_cast<unsigned char>(c) <= ' '; });
    if (!blank && !StartsWithNoCase(line, "@PJL")) return false;
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return true;
}

}  // namespace

int Copy_StdinToTempFile(std::string& path_out) {
  char name[256] = {0};
  int fd = cupsTempFd(name, 255);
  if (fd < 0) {
    fputs("DEBUG: Unable to creat temp file.\n", stderr);
    return -1;
  }
  unlink(name);
  fprintf(stderr, "DEBUG:copying to temp print file \"%s\"\n", name);
  // The job ends its PJL job itself when only PJL follows its last UEL; the UEL that begins the
  // job does not count.
  LastOccurrence last_uel("%-12345X");
  char block[kSpoolBlock];
  long size = 0;
  bool ok = true;
  for (;;) {
    ssize_t got = read(STDIN_FILENO, block, sizeof block);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      if (got < 0) ok = false;
      break;
    }
    ok = WriteAllToFd(fd, block, static_cast<size_t>(got)) && ok;
    last_uel.Feed(block, static_cast<size_t>(got));
    size += got;
  }
  if (ok && size > 9 && !(last_uel.end() >= 0 && OnlyPjlFollows(fd, last_uel.end()))) {
    ok = WriteAllToFd(fd, kEndOfJobSequence, sizeof kEndOfJobSequence - 1);
    fputs("DEBUG: appended the end-of-job sequence\n", stderr);
  }
  if (!ok) {
    fprintf(stderr, "DEBUG: spooling the job to \"%s\" failed: %s\n", name, strerror(errno));
    close(fd);
    return -1;
  }
  path_out = "/dev/fd/" + std::to_string(fd);
  return fd;
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
  bool supported = PrinterIsSupported();
  if (job_canceled.load() != 0) {
    fputs("DEBUG: The job was cancelled before it started.\n", stderr);
    return 0;
  }
  if (!supported) {
    sleep(1);
    ReportUserError("The current printer is not available,please use the correct printer.\n");
    return 1;
  }
  if (!PinIsUsable(argv[5]) || !DelayIsUsable(argv[5])) return 1;
  SpoolFile spool;  // never argv[6]: that file belongs to CUPS
  std::string path;
  if (argc == 6) {
    spool.fd() = Copy_StdinToTempFile(path);
    if (spool.fd() < 0) {
      fputs("ERROR: Unable to spool the print job.\n", stderr);
      return 1;
    }
  } else {
    path = argv[6];
    if (!PrintFileIsUsable(path.c_str())) return 1;
  }
  if (isqd3840 && !PrepareQd3840Job(argv, path.c_str())) return 1;
  // Collated copies are sent page by page; otherwise the printer makes the copies of each page.
  SetPrinterCopiesPerPage(iscollate ? 1 : ParseCopyCount(argv[4]));
  if (!WritePSdataToStdout(argv, path.c_str())) return 1;
  if (PrinterOutputFailed()) {
    fprintf(stderr, "ERROR: Unable to send the print data to the printer: %s\n", strerror(PrinterOutputError()));
    return 1;
  }
  return 0;
}
