// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include "test_support.h"

using namespace varnel_test;

TEST(RastertoVarnelProgram, WrongArgumentCountIsRefused) {
  for (int count : {0, 4, 7}) {
    std::vector<std::string> args(static_cast<size_t>(count), "x");
    ProcessResult run = RunProgram(BuildPath("gdi_filter/rastertoVarnel"), args);
    EXPECT_EQ(run.exit_status, 1) << count;
    EXPECT_NE(run.err.find("ERROR: job-id user title copies options [file]\n"), std::string::npos) << count;
    EXPECT_TRUE(run.out.empty());
  }
}
