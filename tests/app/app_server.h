// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// varnel-printer-app as a server for tests: on a loopback port that the kernel chose, with its
// spool folder, state, log and domain socket in a scratch folder (so it never meets another
// instance nor a system service), printers on file: devices, and IPP requests to it.
#pragma once

#include <cups/cups.h>
#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

#include "test_support.h"

namespace varnel_test {

struct JobResult {
  int id = 0;
  ipp_jstate_t state = IPP_JSTATE_PENDING;
  std::string message;               // job-state-message
  std::vector<std::string> reasons;  // job-state-reasons
  int impressions = 0;               // job-impressions-completed
  bool timedOut = false;
};

class AppServer {
 public:
  // The program of the build tree.
  AppServer();
  // Another copy of the program, such as one unpacked from the Debian package.
  explicit AppServer(const std::string& program);
  ~AppServer();  // stops the server
  AppServer(const AppServer&) = delete;
  AppServer& operator=(const AppServer&) = delete;

  // Starts `varnel-printer-app server` and waits until it answers. false (with the reason in
  // error()) when it does not.
  bool Start(int timeout_ms = 60000);
  // Shuts the server down (SIGTERM, then SIGKILL after the time-out). Its exit status, or -1
  // when it had to be killed or ended by a signal.
  int Stop(int timeout_ms = 60000);
  bool running() const { return pid_ > 0; }

  int port() const { return port_; }
  const std::string& error() const { return error_; }
  std::string Log() const;
  // What to show when the server misbehaved: its standard output and error (sanitizer reports
  // land there) and the end of its log.
  std::string Diagnostics() const;
  const std::string& root() const { return dir_.path(); }
  std::string PrinterUri(const std::string& printer) const;
  // The environment under which the server and its sub-command clients run.
  std::vector<std::string> Environment() const;

  // Runs a sub-command of the application (add, printers, submit, drivers...) against the server.
  ProcessResult Command(const std::vector<std::string>& args, int timeout_ms = 60000) const;
  // `add -d NAME -m DRIVER -v file://FOLDER` with a new folder of its own; false on failure.
  bool AddPrinter(const std::string& name, const std::string& driver);
  // The folder whose files are the printer's output (one file per job, named after the job).
  std::string OutputDir(const std::string& printer) const;
  // The output of a job named job_name on the printer ("" when there is none).
  std::string Output(const std::string& printer, const std::string& job_name) const;

  // Print-Job with the document; attributes are job attributes (name -> value, as ipptool
  // would type them: integers, keywords, booleans). The job id, or 0 with error() set.
  int Print(const std::string& printer, const std::string& file, const std::string& format,
            const std::string& job_name, const std::map<std::string, std::string>& attributes = {});
  // Waits until the job has ended (completed, aborted or canceled).
  JobResult WaitForJob(const std::string& printer, int job_id, int timeout_ms = 180000);
  // Cancel-Job; true when the server took the request.
  bool Cancel(const std::string& printer, int job_id);
  // printer-state-reasons of the printer.
  std::vector<std::string> PrinterReasons(const std::string& printer);

 private:
  std::string program_;
  TempDir dir_;
  pid_t pid_ = -1;
  int port_ = 0;
  std::string error_;
};

}  // namespace varnel_test
