// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// The whole raster filter, from its arguments to the printer stream, on one fuzzed job: the input
// names the printer, the job options and the pages (raster_fuzz_input.h); the harness writes the
// CUPS raster file of them and runs rastertoVarnel_main on it, as CUPS would run the filter.
//
// Kept out of each run: the raster file lives in memory (a memfd, reached by its /proc path or as
// standard input); the printer stream and the CUPS back and side channels go to /dev/null; spool
// files for collated copies go to /dev/shm when it is there; libcups parses each fixture PPD
// once (ppd_cache.cpp; the filter still opens the PPD of $PPD on every run).
#include <fcntl.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <random>
#include <string>

#include "raster_fuzz_input.h"
#include "rastertoVarnel.h"

extern "C" size_t LLVMFuzzerMutate(uint8_t* data, size_t size, size_t maxSize);

namespace {

int g_rasterFd = -1;
std::string g_rasterPath;

void DevNullOnto(int fd) {
  int null = open("/dev/null", O_RDWR);
  if (null < 0) abort();
  if (null != fd) {
    dup2(null, fd);
    close(null);
  }
}

// The raster file of this run, in place of the last one; the descriptor's offset back at the
// start, for the run that reads it as standard input.
bool PutRaster(const std::vector<uint8_t>& raster) {
  size_t done = 0;
  while (done < raster.size()) {
    ssize_t n = pwrite(g_rasterFd, raster.data() + done, raster.size() - done, static_cast<off_t>(done));
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return ftruncate(g_rasterFd, static_cast<off_t>(raster.size())) == 0 && lseek(g_rasterFd, 0, SEEK_SET) == 0;
}

}  // namespace

// libcups 2.4 allocates a line of cupsBytesPerLine bytes for any header it reads, up to 4 GiB.
// The headers the harness writes ask for at most 128 KiB, but should libcups ever take a header
// out of raster data (where PageDataLength and libcups disagreed), such a request fails here as
// it may on any system, instead of ending the fuzzer as out of memory. The largest buffer the
// filter itself takes, a Legal page at 1200 dpi, is under 200 MiB. ASAN_OPTIONS still override
// these.
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1:max_allocation_size_mb=512"; }

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  DevNullOnto(1);  // the printer stream
  DevNullOnto(3);  // CUPS back channel
  DevNullOnto(4);  // CUPS side channel: requests fail at once
  g_rasterFd = memfd_create("fuzz-raster", 0);
  if (g_rasterFd < 0) abort();
  // Standard input shares the file's offset: PutRaster rewinds both.
  if (dup2(g_rasterFd, 0) != 0) abort();
  g_rasterPath = "/proc/self/fd/" + std::to_string(g_rasterFd);
  if (access("/dev/shm", W_OK) == 0) setenv("TMPDIR", "/dev/shm", 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static raster_fuzz::Job job;  // its buffer is kept from run to run
  if (!raster_fuzz::DecodeJob(data, size, &job) || !PutRaster(job.raster)) return 0;
  const std::string ppd = std::string(VARNEL_FIXTURES) + "/" + job.printer;
  setenv("PPD", ppd.c_str(), 1);
  setenv("VARNEL_THREADS", job.oneThread ? "1" : "2", 1);
  std::string arg0 = "rastertoVarnel", id = "7", user = "fuzz", title = "fuzz", copies = "1";
  std::string options = job.options, raster = g_rasterPath;
  char* argv[] = {&arg0[0], &id[0], &user[0], &title[0], &copies[0], &options[0], &raster[0], nullptr};
  rastertoVarnel_main(job.standardInput ? 6 : 7, argv);
  return 0;
}

// libFuzzer's own mutations, then most pages of a paper size or free values become small pages
// again: such a page costs a whole page buffer, a thousand times a small page, and would
// otherwise take most of the time once some are in the corpus. One mutation in 64 keeps them.
extern "C" size_t LLVMFuzzerCustomMutator(uint8_t* data, size_t size, size_t maxSize, unsigned int seed) {
  size = LLVMFuzzerMutate(data, size, maxSize);
  std::minstd_rand random(seed);
  raster_fuzz::ForEachPageRecord(data, size, [&random](uint8_t* record) {
    if (record[0] >= raster_fuzz::kPaperKind && random() % 64 != 0)
      record[0] = static_cast<uint8_t>(random() % raster_fuzz::kPaperKind);
  });
  return size;
}
