// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// The QD3840 copier: completes the "@PJL JOB NAME" line, corrects page sizes line by line and
// makes collated copies inside one PJL job.
#include <fcntl.h>
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

namespace {

const char kEndOfJob[] = "\x04\x1b%-12345X";
const std::string kEndOfJobMarker(kEndOfJob, sizeof kEndOfJob - 1);

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

// Writes a line unless the cancellation cut takes it; true when the copy must stop.
bool EmitLine(std::string& line, std::string& previous) {
  if (CutAtPageStart(line, previous)) return true;
  WriteToPrinter(line);
  fflush(stdout);
  previous = line;
  return false;
}

void CopyOnce(LineReader& input, const JobLines& lines) {
  std::string line, previous;
  unsigned char state = 0;
  while (input.Next(line)) {
    if (ContainsNoCase(line, "@PJL JOB NAME")) CompleteJobLine(line, lines.owner_and_id + lines.pin);
    if (job_canceled.load() != 0 && CutAtPageStart(line, previous)) return;
    FixPrnPageSize(line, width, height, &state);
    WriteToPrinter(line);
    fflush(stdout);
    previous = line;
  }
}

// One collating pass over the input; the lines written also go to the copy file when open.
// True when the pass was cut by a cancellation.
bool CollatingPass(LineReader& input, FILE* copy_file, const JobLines& lines) {
  std::string line, previous;
  unsigned char state = 0;
  rewind(input.file());
  while (input.Next(line)) {
    if (line.find("@PJL JOB NAME") != std::string::npos) CompleteJobLine(line, lines.owner_and_id);
    if (line.find(kEndOfJobMarker) != std::string::npos) line.clear();
    if (job_canceled.load() != 0 && CutAtPageStart(line, previous)) return true;
    FixPrnPageSize(line, width, height, &state);
    WriteToPrinter(line);
    fflush(stdout);
    if (copy_file != nullptr && !line.empty()) {
      fwrite(line.data(), 1, line.size(), copy_file);
      fflush(copy_file);
    }
    previous = line;
  }
  return false;
}

// Offset in the copy file just past its "@PJL ENTER LANGUAGE" line (0 when there is none).
long BodyOffset(FILE* copy_file) {
  rewind(copy_file);
  LineReader reader(fdopen(dup(fileno(copy_file)), "rb"));
  std::string line;
  long offset = 0;
  while (reader.Next(line)) {
    offset += static_cast<long>(line.size());
    if (line.find("@PJL ENTER LANGUAGE") != std::string::npos) return offset;
  }
  return 0;
}

// Repeats the corrected body from the copy file; true when cut by a cancellation.
bool ReplayBody(FILE* copy_file, long offset) {
  int fd = dup(fileno(copy_file));
  LineReader body(fd >= 0 ? fdopen(fd, "rb") : nullptr);
  if (!body.IsOpen()) return false;
  fseek(body.file(), offset, SEEK_SET);
  fprintf(stderr, "off %ld \n", offset);
  std::string line, previous;
  while (body.Next(line))
    if (EmitLine(line, previous)) return true;
  return false;
}

// The copy file sits beside the job file; it is never one that existed before.
FILE* CreateCopyFile(const std::string& name) {
  int fd = open(name.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
  return fd >= 0 ? fdopen(fd, "w+b") : nullptr;
}

void CopyCollated(LineReader& input, const char* path, const JobLines& lines) {
  std::string copy_name = std::string(path) + "_m";
  FILE* copy_file = CreateCopyFile(copy_name);
  if (copy_file == nullptr) fputs("3840/3842 Uable create temp file error! \n", stderr);
  int passes = copy_file != nullptr ? 1 : copies;
  bool cut = false;
  for (int pass = 0; pass < passes && !cut; ++pass) {
    fprintf(stderr, "copies %d \n", pass);
    cut = CollatingPass(input, copy_file, lines);
  }
  if (copy_file != nullptr) {
    long offset = BodyOffset(copy_file);
    for (int replay = 1; replay < copies && !cut; ++replay) {
      fprintf(stderr, "copies %d \n", replay);
      cut = ReplayBody(copy_file, offset);
    }
    fclose(copy_file);
    unlink(copy_name.c_str());
  }
  WriteToPrinter(kEndOfJobMarker);
  fflush(stdout);
}

}  // namespace

bool CopyForQd3840(char* argv[], const char* path) {
  LineReader input(path);
  if (!input.IsOpen()) {
    fprintf(stderr, "Uable open temp file error %s! \n", strerror(errno));
    return false;
  }
  std::string host = HostName();
  StartStatusThread(argv[0], ParseJobId(argv[1]), host);
  JobLines lines = BuildJobLines(argv, host);
  if (iscollate)
    CopyCollated(input, path, lines);
  else
    CopyOnce(input, lines);
  return true;
}
