// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Running pstoVarnel on small PostScript jobs with a JCL header, in a scratch TMPDIR.
#pragma once

#include <unistd.h>

#include <string>
#include <vector>

#include "test_support.h"

namespace ps_test {

const std::string kUel = "\x1b%-12345X";
const std::string kEndOfJob = std::string("\x04") + kUel;
const std::string kTrailer = "%%Trailer\nend\n%%Pages: 4\n%%BoundingBox: 0 0 595 842\n%%EOF\n" + kEndOfJob + "\n";

inline std::string HostName() {
  char host[256] = {0};
  gethostname(host, sizeof host - 1);
  return host;
}

// The JCL header as the stock chain builds it from a PPD whose JCL holds the four anchors in
// the order the filter edits them.
inline std::string Jcl(const std::string& user = "alice") {
  return kUel + "@PJL\n@PJL JOB NAME = \"Report\" DISPLAY = \"1 " + user + " Report\"\n@PJL SET USERNAME = \"" + user +
         "\"\n@PJL SET TIMEPRINT=ON\n@PJL SET QTY=1\n@PJL SET BITSPERPIXEL=1\n@PJL ENTER LANGUAGE=POSTSCRIPT\n";
}

inline std::string Body(const std::string& pages = "%%Page: 1 1\nshowpage\n") {
  return "%!PS-Adobe-3.0\n%%Pages: 1\n%%EndComments\n%%BeginSetup\n%%EndSetup\n" + pages + "%%EOF\n";
}

struct Job {
  std::string ppd = "generic.ppd";
  std::string user = "alice";
  std::string copies = "1";
  std::string options;
  std::string input;                 // standard input (when file is empty)
  std::string file;                  // argv[6] when set
  std::vector<std::string> env;      // extra variables
  varnel_test::RunOptions run;       // signal and side-channel settings
  // When set, a bash script that starts the filter: "$0" is its path, "$@" its arguments
  // (`exec -a queue1 "$0" "$@"` runs it as CUPS would), e.g. with other standard output.
  std::string wrapper;
};

struct JobResult {
  varnel_test::ProcessResult process;
  std::vector<std::string> left_in_tmpdir;
};

// Sends the job the signal while its standard input is being spooled: before anything was sent
// to the printer (the input is held until then).
inline void SignalWhileSpooling(Job& job, int signal_number = 15) {
  job.run.signal_when_stderr_has = "copying to temp print file";
  job.run.signal_number = signal_number;
  job.run.stdin_hold_at = 1000;
}

inline JobResult RunJob(const Job& job) {
  varnel_test::TempDir tmp;
  varnel_test::RunOptions run = job.run;
  run.argv0 = "queue1";
  run.stdin_data = job.input;
  run.env.push_back("TMPDIR=" + tmp.path());
  run.env.push_back("PPD=" + (job.ppd.empty() ? std::string("/nonexistent.ppd")
                                              : varnel_test::SourcePath("tests/fixtures/ps/" + job.ppd)));
  run.env.push_back("CUPS_SERVER=127.0.0.1:9");
  run.env.push_back("CONTENT_TYPE=application/postscript");
  run.env.push_back("FINAL_CONTENT_TYPE=application/vnd.cups-postscript");
  run.env.insert(run.env.end(), job.env.begin(), job.env.end());
  std::vector<std::string> args = {"42", job.user, "Report", job.copies, job.options};
  if (!job.file.empty()) args.push_back(job.file);
  JobResult result;
  std::string program = varnel_test::BuildPath("ps_filter/pstoVarnel");
  if (!job.wrapper.empty()) {
    args.insert(args.begin(), {"-c", job.wrapper, program});
    program = "/bin/bash";
    run.argv0 = "bash";
  }
  result.process = varnel_test::RunProgram(program, args, run);
  result.left_in_tmpdir = varnel_test::ListFiles(tmp.path());
  return result;
}

}  // namespace ps_test
