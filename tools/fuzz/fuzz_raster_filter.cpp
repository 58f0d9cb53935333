// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// The whole raster filter on one fuzzed raster file. The first input byte picks the printer
// (one PPD of each platform) and the job options; the rest is the file CUPS would hand over.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "rastertoVarnel.h"

namespace {

const char* const kPpds[] = {"platform_c.ppd", "platform_z.ppd", "platform_m.ppd"};
// No manual duplex: its job ends with a ten-second pause for the turn-over message.
const char* const kOptions[] = {
    "",
    "Collate=True",
    "Duplex=DuplexNoTumble",
    "Duplex=DuplexTumble ImageRotation=True Collate=True",
    "FeedLongEdge=True DPI1200=True NegativePrint=True",
    "Density=4 TonerMode=True FineMode=True InputSlot=ManualFeed outputorder=true",
};

std::string g_raster;

void DevNullOnto(int fd) {
  int null = open("/dev/null", O_RDWR);
  dup2(null, fd);
  if (null != fd) close(null);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  DevNullOnto(1);  // the printer stream
  DevNullOnto(3);  // CUPS back channel
  DevNullOnto(4);  // CUPS side channel: requests fail at once
  char path[] = "/tmp/fuzz-raster-XXXXXX";
  int fd = mkstemp(path);
  if (fd >= 0) close(fd);
  g_raster = path;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const unsigned pick = data[0];
  const std::string ppd = std::string(VARNEL_FIXTURES) + "/" + kPpds[pick % 3];
  const char* options = kOptions[(pick / 3) % (sizeof kOptions / sizeof kOptions[0])];
  FILE* file = fopen(g_raster.c_str(), "wb");
  if (file == nullptr) return 0;
  fwrite(data + 1, 1, size - 1, file);
  fclose(file);
  setenv("PPD", ppd.c_str(), 1);
  std::string arg0 = "rastertoVarnel", job = "7", user = "fuzz", title = "fuzz", copies = "2";
  std::string opts = options, raster = g_raster;
  char* argv[] = {&arg0[0], &job[0], &user[0], &title[0], &copies[0], &opts[0], &raster[0], nullptr};
  rastertoVarnel_main(7, argv);
  return 0;
}
