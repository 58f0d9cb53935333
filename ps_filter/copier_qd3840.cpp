// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// The QD3840 copier: completes the "@PJL JOB NAME" line, corrects page sizes line by line and
// makes collated copies inside one PJL job.
#include <cups/cups.h>
#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "cancel_cut.h"
#include "common.h"
#include "copier.h"
#include "line_reader.h"
#include "options.h"
#include "page_size.h"
#include "pin_print.h"
#include "pjl_text.h"
#include "printerCanel.h"
#include "printer_output.h"

namespace {

const char kEndOfJob[] = "\x04\x1b%-12345X";
const std::string kEndOfJobMarker(kEndOfJob, sizeof kEndOfJob - 1);
const std::string kUel = "\x1b%-12345X";  // Universal Exit Language: ends the PostScript

// The status thread reads its record until the process exits.
cancel_query_arg g_cancel_query_arg;

std::string HostName() {
  char host[256] = {0};
  if (gethostname(host, sizeof host - 1) != 0) {
    fprintf(stderr, "gethostname failed! error errno:%d, msg:%s\n", errno, strerror(errno));
    return "";
  }
  fprintf(stderr, "hostname %s\n", host);
  return host;
}

void StartStatusThread(const char* queue, int job_id, const std::string& host) {
  std::string uri, model;
  getPrinter_optiopns(queue, uri, model);
  memset(&g_cancel_query_arg, 0, sizeof g_cancel_query_arg);
  snprintf(g_cancel_query_arg.device_uri, sizeof g_cancel_query_arg.device_uri, "%s", uri.c_str());
  g_cancel_query_arg.job_id = job_id;
  snprintf(g_cancel_query_arg.job_owner, sizeof g_cancel_query_arg.job_owner, "%s", host.c_str());
  fprintf(stderr, "uri:%s,jobid:%d,jobower:%s\n", g_cancel_query_arg.device_uri, job_id, g_cancel_query_arg.job_owner);
  fprintf(stderr, "cancel_query_arg point address:%p\n", static_cast<void*>(&g_cancel_query_arg));
  pthread_t status_thread;
  int err_thread = pthread_create(&status_thread, nullptr, Printer_cancle_query_tread, &g_cancel_query_arg);
  if (err_thread != 0) {
    fprintf(stderr, "gstopcl::Printer_cancle_query_tread Failed, err = %d\n", err_thread);
    return;
  }
  pthread_detach(status_thread);
}

// Appends lines behind a completed "@PJL JOB NAME" line.
void CompleteJobLine(std::string& line, const std::string& additions) {
  if (!line.empty() && line.back() != '\n') line.push_back('\n');
  line += additions;
}

struct JobLines {
  std::string owner_and_id;  // owner, job id and the A5 line
  std::string pin;           // PIN lines (not used while collating)
};

JobLines BuildJobLines(char* argv[], const std::string& host) {
  JobLines lines;
  lines.owner_and_id = "@PJL SET JOBOWNER=\"" + QuotedPjlValue(host) + "\"\n";
  lines.owner_and_id += "@PJL SET JOBID=" + std::to_string(ParseJobId(argv[1])) + "\n";
  if (isA5Page) lines.owner_and_id += "@PJL SET PAPER=A5L\n";
  GetPinPrintPJL(argv, lines.pin, 1);
  return lines;
}

// Writes a line unless the cancellation cut takes it; true when the copy must stop (cut, or
// the printer cannot be written to).
bool EmitLine(std::string& line, std::string& previous) {
  if (CutAtPageStart(line, previous)) return true;
  WriteToPrinter(line);
  previous = line;
  return PrinterOutputFailed();
}

void CopyOnce(LineReader& input, const JobLines& lines) {
  std::string line, previous;
  unsigned char state = 0;
  while (input.Next(line)) {
    if (ContainsNoCase(line, "@PJL JOB NAME")) CompleteJobLine(line, lines.owner_and_id + lines.pin);
    if (job_canceled.load() != 0 && CutAtPageStart(line, previous)) return;
    FixPrnPageSize(line, width, height, &state);
    WriteToPrinter(line);
    if (PrinterOutputFailed()) return;
    previous = line;
  }
}

// A line of the PJL job header: one that begins with the UEL or with "@PJL", or an empty one.
bool IsJclLine(const std::string& line) {
  return StartsWithNoCase(line, kUel) || StartsWithNoCase(line, "@PJL") || line == "\n" || line == "\r\n";
}

// Where the PostScript ends in a line: at the UEL that ends the job, or at the end-of-file byte
// (0x04) right before it; npos when the line has no UEL.
size_t EndOfBody(const std::string& line) {
  if (line.find('\x1b') == std::string::npos) return std::string::npos;  // the common case, quickly
  size_t uel = FindNoCase(line, kUel);
  if (uel == std::string::npos) return uel;
  return uel > 0 && line[uel - 1] == '\x04' ? uel - 1 : uel;
}

// The collated copies are taken from a temporary file that holds the corrected PostScript body
// of the first copy. It has a unique name and is removed at once: only its descriptor is used.
struct CopyFile {
  FILE* file = nullptr;
  bool complete = false;  // every body line reached it
  explicit CopyFile(bool wanted) {
    if (!wanted) return;
    char name[1024] = {0};
    int fd = cupsTempFd(name, sizeof name);
    if (fd < 0) return;
    unlink(name);
    file = fdopen(fd, "w+b");
    if (file == nullptr) close(fd);
    complete = file != nullptr;
  }
  ~CopyFile() {
    if (file != nullptr) fclose(file);
  }
  CopyFile(const CopyFile&) = delete;
  CopyFile& operator=(const CopyFile&) = delete;
  void Add(const std::string& line) {
    if (!complete || line.empty()) return;
    if (fwrite(line.data(), 1, line.size(), file) != line.size() || fflush(file) != 0) {
      fprintf(stderr, "DEBUG: the copy file cannot be written (%s); the copies are read from the print file\n",
              strerror(errno));
      complete = false;
    }
  }
};

// Where the parts of a collated job lie in the input.
struct JobParts {
  long body_start = 0;  // the PostScript begins after the PJL header
  long body_end = -1;   // and ends where the end of the job begins
  bool has_end = false;  // the input ends its job itself (else body_end is the end of the file)
  bool body_ends_line = true;
};

// The header and the first copy of the body to the printer, the body also into the copy file.
// True when the pass was cut by a cancellation (or the printer cannot be written to).
bool FirstPass(LineReader& input, CopyFile& copy, const JobLines& lines, JobParts& parts) {
  std::string line, previous;
  unsigned char state = 0;
  bool in_header = true;
  long offset = 0;
  while (input.Next(line)) {
    long line_start = offset;
    offset += static_cast<long>(line.size());
    if (in_header && !IsJclLine(line)) {
      in_header = false;
      parts.body_start = line_start;
    }
    const bool body_line = !in_header;
    if (in_header) {
      if (line.find("@PJL JOB NAME") != std::string::npos) CompleteJobLine(line, lines.owner_and_id);
      if (line.find("@PJL ENTER LANGUAGE") != std::string::npos) {
        in_header = false;
        parts.body_start = offset;
      }
    } else {
      size_t end = EndOfBody(line);
      if (end != std::string::npos) {
        line.resize(end);
        parts.body_end = line_start + static_cast<long>(end);
        parts.has_end = true;
      }
    }
    if (job_canceled.load() != 0 && CutAtPageStart(line, previous)) return true;
    FixPrnPageSize(line, width, height, &state);
    WriteToPrinter(line);
    if (PrinterOutputFailed()) return true;
    if (body_line) {
      copy.Add(line);
      if (!line.empty()) parts.body_ends_line = line.back() == '\n';
    }
    previous = line;
    if (parts.body_end >= 0) break;
  }
  if (parts.body_end < 0) parts.body_end = offset;
  return false;
}

// One more copy of the body: from the copy file, or else read again from the input and corrected
// the same way. True when the copy must stop: cut by a cancellation, the printer cannot be
// written to, or reading failed (read_error then holds the errno).
bool ReplayBody(LineReader& input, CopyFile& copy, const JobParts& parts, int& read_error) {
  std::string line, previous;
  if (copy.complete) {
    fprintf(stderr, "off %ld \n", 0L);
    int fd = dup(fileno(copy.file));
    LineReader body(fd >= 0 ? fdopen(fd, "rb") : nullptr);
    if (fd >= 0 && !body.IsOpen()) close(fd);
    if (body.IsOpen() && fseek(body.file(), 0, SEEK_SET) == 0) {
      while (body.Next(line))
        if (EmitLine(line, previous)) return true;
      read_error = body.ReadError();
      return read_error != 0;
    }
  }
  fprintf(stderr, "off %ld \n", parts.body_start);
  if (fseek(input.file(), parts.body_start, SEEK_SET) != 0) {
    read_error = errno;
    return true;
  }
  unsigned char state = 0;
  for (long offset = parts.body_start; offset < parts.body_end && input.Next(line);) {
    if (offset + static_cast<long>(line.size()) > parts.body_end) line.resize(static_cast<size_t>(parts.body_end - offset));
    offset += static_cast<long>(line.size());
    FixPrnPageSize(line, width, height, &state);
    if (EmitLine(line, previous)) return true;
  }
  read_error = input.ReadError();
  return read_error != 0;
}

// Passes the input from offset to its end to the printer unchanged; the errno of a failed read,
// else 0.
int CopyRest(FILE* input, long offset) {
  if (fseek(input, offset, SEEK_SET) != 0) return errno;
  char block[8192];
  size_t got;
  while ((got = fread(block, 1, sizeof block, input)) > 0)
    if (!WriteToPrinter(block, got)) return 0;
  return ferror(input) != 0 ? (errno != 0 ? errno : EIO) : 0;
}

// Collated copies inside one PJL job: the header once, the PostScript body once per copy, then
// the end of the job as the input has it (or the end-of-job marker when it has none). The errno
// of a failed read, else 0.
int CopyCollated(LineReader& input, const JobLines& lines) {
  CopyFile copy(copies > 1);
  if (copy.file == nullptr && copies > 1) fputs("3840/3842 Uable create temp file error! \n", stderr);
  JobParts parts;
  int read_error = 0;
  fprintf(stderr, "copies %d \n", 0);
  bool stop = FirstPass(input, copy, lines, parts);
  for (int replay = 1; replay < copies && !stop; ++replay) {
    fprintf(stderr, "copies %d \n", replay);
    // Each copy starts on a line of its own.
    if (!parts.body_ends_line) WriteToPrinter("\n", 1);
    stop = ReplayBody(input, copy, parts, read_error);
  }
  if (stop || !parts.has_end)
    WriteToPrinter(kEndOfJobMarker);
  else
    read_error = CopyRest(input.file(), parts.body_end);
  return read_error != 0 ? read_error : input.ReadError();
}

}  // namespace

bool CopyForQd3840(char* argv[], const char* path) {
  LineReader input(path);
  if (!input.IsOpen()) {
    fprintf(stderr, "Uable open temp file error %s! \n", strerror(errno));
    ReportPrintFileError("open", path, errno);
    return false;
  }
  std::string host = HostName();
  StartStatusThread(argv[0], ParseJobId(argv[1]), host);
  JobLines lines = BuildJobLines(argv, host);
  int read_error = 0;
  if (iscollate) {
    read_error = CopyCollated(input, lines);
  } else {
    CopyOnce(input, lines);
    read_error = input.ReadError();
  }
  if (read_error != 0) {
    ReportPrintFileError("read", path, read_error);
    return false;
  }
  return true;
}
