// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// A private CUPS scheduler for end-to-end tests: its own folders and configuration under a
// scratch root, listening on a loopback port chosen free at run time, with its own ServerBin
// (the stock filters of the system plus the programs a test installs). It never touches the
// system's CUPS and stops only the daemon it started, by its PID.
//
// Typical use:
//   PrivateCupsd cupsd;
//   cupsd.InstallFilter(BuildPath("gdi_filter/rastertoVarnel"));
//   cupsd.InstallBackend(BuildPath("tests/cups/capture_backend"), "capture");
//   ASSERT_TRUE(cupsd.Start()) << cupsd.ErrorLog();
//   ASSERT_TRUE(cupsd.AddQueue("q1", "capture:" + cupsd.OutputDir(), ppd_path));
//   int job = cupsd.Submit("q1", pdf_path, {"-o", "Duplex=DuplexNoTumble"});
//   ASSERT_TRUE(cupsd.WaitUntilIdle("q1"));
#pragma once

#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

#include "test_support.h"

namespace varnel_test {

// Copies a program with mode 0755: the scheduler refuses group- or world-writable programs and
// 0700 would stop the jobs' user.
bool CopyProgram(const std::string& from, const std::string& to);
// Links every stock CUPS filter of the system into filter_dir.
void LinkStockFilters(const std::string& filter_dir);

class PrivateCupsd {
 public:
  // Builds the folder tree and a ServerBin whose filter/ folder links every stock filter of
  // /usr/lib/cups/filter; the daemon is not started yet.
  PrivateCupsd();
  // Stops the daemon (SIGTERM to its PID, SIGKILL after 10 s) and removes the tree.
  ~PrivateCupsd();
  PrivateCupsd(const PrivateCupsd&) = delete;
  PrivateCupsd& operator=(const PrivateCupsd&) = delete;

  // Copies a program into ServerBin/filter (or ServerBin/backend) with mode 0755; the name
  // defaults to the program's file name. Installing replaces a stock filter of that name.
  // Call before or after Start(); returns false when the copy fails.
  bool InstallFilter(const std::string& program, const std::string& name = "");
  bool InstallBackend(const std::string& program, const std::string& name = "");
  // Adds "SetEnv NAME VALUE" for filters and backends. Only before Start().
  void SetEnv(const std::string& name, const std::string& value);
  // Gives the scheduler a DataDir of its own, the system's with one more folder of drivers:
  // `folder` appears as DataDir/model/NAME, so its PPDs are listed (lpinfo -m) as NAME/FILE and
  // can be chosen with lpadmin -m. Only before Start().
  void AddModelFolder(const std::string& folder, const std::string& name);

  // Writes the configuration, starts `cupsd -f` and waits until `lpstat -r` reports
  // "scheduler is running". Retries on another port if the chosen one was taken meanwhile.
  bool Start(int timeout_ms = 20000);
  bool running() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }
  // "127.0.0.1:PORT", for `-h` of the CUPS commands and for CUPS_SERVER.
  const std::string& server() const { return server_; }
  const std::string& root() const { return dir_.path(); }
  // A folder that the jobs' processes (user lp) may write into, e.g. for a capture backend.
  std::string OutputDir() const;
  // A new folder NAME inside OutputDir(), writable by the jobs' processes too.
  std::string NewOutputDir(const std::string& name) const;
  // The scheduler's log (LogLevel debug).
  std::string ErrorLog() const;

  // lpadmin -p NAME -E -v URI -P PPD, then enables the queue and lets it accept jobs.
  bool AddQueue(const std::string& name, const std::string& device_uri, const std::string& ppd);
  // The same with a driver of the scheduler's list (lpadmin -m, e.g. "varnel/q7306mf.ppd").
  bool AddDriverQueue(const std::string& name, const std::string& device_uri, const std::string& driver);
  // Runs a CUPS client command (lp, lpstat, cancel, lpadmin, lpoptions...) against this server;
  // `env` adds "NAME=value" settings, e.g. the user's language.
  ProcessResult Client(const std::string& command, const std::vector<std::string>& args,
                       const std::vector<std::string>& env = {}) const;
  // lp -d QUEUE ARGS... FILE; returns the job id, or -1 when lp failed.
  int Submit(const std::string& queue, const std::string& file, const std::vector<std::string>& args = {},
             const std::vector<std::string>& env = {});
  // cancel JOB-ID; true when the command succeeded.
  bool Cancel(int job_id);
  // Waits until the queue has no pending or processing job left (a job stopped by a failing
  // filter counts as ended).
  bool WaitUntilIdle(const std::string& queue, int timeout_ms = 60000);
  // Waits until the job is processing (its filters run); false on time-out or when it ended.
  bool WaitUntilProcessing(int job_id, int timeout_ms = 30000);
  // The job's IPP state (IPP_JSTATE_COMPLETED, IPP_JSTATE_CANCELED, IPP_JSTATE_ABORTED, ...),
  // 0 when the scheduler does not know the job.
  int JobState(int job_id) const;

 private:
  bool StartOnce(int timeout_ms);
  bool SchedulerRunning() const;
  void Stop();
  void WriteConfiguration() const;
  std::vector<std::pair<int, int>> Jobs(const std::string& queue, bool active_only) const;
  bool AddQueueWith(const std::string& name, const std::string& device_uri, const std::string& flag,
                    const std::string& ppd);

  TempDir dir_;
  std::vector<std::string> set_env_;
  bool own_data_dir_ = false;
  std::string server_;
  int port_ = 0;
  pid_t pid_ = -1;
};

}  // namespace varnel_test
