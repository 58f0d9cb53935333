// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// pstoVarnel on bad input: clear errors, no output, nothing left in TMPDIR, argv[6] kept.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "ps_job.h"

using namespace ps_test;

TEST(BadInput, UnreadableOrMissingFileIsAnError) {
  varnel_test::TempDir dir;
  std::string unreadable = dir.File("unreadable.ps");
  varnel_test::WriteFile(unreadable, Jcl() + Body());
  chmod(unreadable.c_str(), 0);
  bool root = access(unreadable.c_str(), R_OK) == 0;
  for (std::string ppd : {"generic.ppd", "qd3840.ppd"}) {
    std::vector<std::string> files = {dir.File("missing.ps")};
    if (!root) files.push_back(unreadable);
    for (const std::string& file : files) {
      Job job;
      job.ppd = ppd;
      job.file = file;
      JobResult r = RunJob(job);
      EXPECT_EQ(r.process.exit_status, 1) << ppd << file;
      EXPECT_NE(r.process.err.find("ERROR: "), std::string::npos) << ppd << file;
      EXPECT_TRUE(r.process.out.empty()) << ppd << file;
    }
  }
}

TEST(BadInput, FileNamedByCupsIsReadAndKept) {
  varnel_test::TempDir dir;
  for (std::string options : {"", "Collate"}) {
    std::string file = dir.File("job 1;$(touch x).ps");
    std::string input = Jcl() + Body("<</Type/Page/MediaBox [0 0 300 400]>>\n%%Page: 1 1\nshowpage\n") + kEndOfJob + "\n";
    varnel_test::WriteFile(file, input);
    Job job;
    job.ppd = "qd3840.ppd";
    job.options = "PageSize=Custom.300x400 " + options;
    job.copies = "2";
    job.file = file;
    JobResult r = RunJob(job);
    EXPECT_EQ(r.process.exit_status, 0) << r.process.err;
    EXPECT_NE(r.process.out.find("%%Page: 1 1"), std::string::npos);
    EXPECT_EQ(varnel_test::ReadFile(file), input);
    EXPECT_EQ(varnel_test::ListFiles(dir.path()), std::vector<std::string>{"job 1;$(touch x).ps"});
  }
}

TEST(BadInput, WrongArgumentCountIsRefused) {
  varnel_test::RunOptions run;
  run.env.push_back("PPD=" + varnel_test::SourcePath("tests/fixtures/ps/generic.ppd"));
  for (size_t count : {0u, 4u, 7u}) {
    std::vector<std::string> args(count, "1");
    varnel_test::ProcessResult r = varnel_test::RunProgram(varnel_test::BuildPath("ps_filter/pstoVarnel"), args, run);
    EXPECT_EQ(r.exit_status, 1) << count;
    EXPECT_TRUE(r.out.empty()) << count;
  }
}
