// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Which printers pstoVarnel serves: device ID over a real side channel, else the PPD nickname.
#include <gtest/gtest.h>

#include <cstdlib>

#include "printer_id.h"
#include "ps_job.h"

using namespace ps_test;

TEST(IdentificationProgram, DeviceIdDecidesWhenTheBackendReportsOne) {
  struct Case {
    const char* name;
    std::string ppd;
    std::optional<std::string> device_id;
    int status;
    bool qd3840;  // the QD3840 road writes a JOBID line
  } cases[] = {
      {"qd3840 by ID", "unknown_model.ppd", "CLS:PRINTER;MDL:PRLM8400ADN series;CMD:PJL;MFG:PRUL;", 0, true},
      {"generic by ID", "unknown_model.ppd", "MFG:TT VISTA;MDL:TP5720DN series;CLS:PRINTER;", 0, false},
      {"wrong class", "qd3840.ppd", "MFG:PRUL;MDL:PRLM8400ADN series;CLS:SCANNER;", 1, false},
      {"ID wins over a known nickname", "generic.ppd", "MFG:OTHER;MDL:X;CLS:PRINTER;", 1, false},
      {"no side channel: nickname", "qd3840.ppd", std::nullopt, 0, true},
      {"empty ID: nickname", "generic.ppd", std::string(""), 0, false},
      {"unknown nickname", "unknown_model.ppd", std::nullopt, 1, false},
      {"missing PPD", "", std::nullopt, 1, false},
  };
  for (const Case& c : cases) {
    Job job;
    job.ppd = c.ppd;
    job.run.device_id = c.device_id;
    job.input = Jcl() + Body() + kEndOfJob + "\n";
    JobResult r = RunJob(job);
    EXPECT_EQ(r.process.exit_status, c.status) << c.name << r.process.err;
    if (c.status == 0) {
      EXPECT_EQ(r.process.out.find("@PJL SET JOBID=42\n") != std::string::npos, c.qd3840) << c.name;
    } else {
      EXPECT_TRUE(r.process.out.empty()) << c.name;
      EXPECT_NE(r.process.err.find("ERROR: The current printer is not available,please use the correct printer."),
                std::string::npos)
          << c.name;
    }
  }
}

TEST(IsSupportPrinter, NicknameComparisonIgnoresCase) {
  std::string ppd = varnel_test::SourcePath("tests/fixtures/ps/qd3840.ppd");
  setenv("PPD", ppd.c_str(), 1);
  bool qd3840 = false;
  EXPECT_TRUE(isSupportPrinter("", 0, &qd3840));
  EXPECT_TRUE(qd3840);
  qd3840 = false;
  EXPECT_TRUE(isSupportPrinter("mfg:prul;mdl:prlp5720dn series;cls:printer;", 1, &qd3840));
  EXPECT_FALSE(qd3840);
  EXPECT_FALSE(isSupportPrinter("MFG:PRUL;", 1, &qd3840));
  unsetenv("PPD");
  EXPECT_FALSE(isSupportPrinter("MFG:PRUL;MDL:PRLP5720DN series;CLS:PRINTER;", 1, &qd3840));
}
