// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// The fault tests' harness: jobs for the real rastertoVarnel, a run with faults injected (shims
// loaded with LD_PRELOAD, sanitizer allocator options, a spool folder of its own or a given one,
// the program's standard output on a failing target) and the outcome as the printer and CUPS see
// it: exit status, log lines, the stream read back by the inspector, files left in TMPDIR.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <ostream>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "stream_inspect.h"
#include "test_support.h"

namespace fault {

namespace vi = varnel_inspect;
using varnel_test::ProcessResult;
using varnel_test::RasterPage;
using varnel_test::RunOptions;

struct Printer {
  const char* fixture;  // in tests/fixtures/ppd
  const char* tag;
};
extern const Printer kPrinterC;
extern const Printer kPrinterZ;
extern const Printer kPrinterM;
// A Z printer that prints automatic duplex as manual duplex ("SupportManualDuplex" "TRUE").
extern const Printer kPrinterZManualDuplex;
void PrintTo(const Printer& printer, std::ostream* os);

// ---- Pages and rasters ----

// A page of the test jobs: white with `index` black bars at the top left, so that the pages of a
// job differ, and `noiseRows` rows of random grey below them (seeded by the index), which JBIG
// cannot compress much: they make the page's image as large as a test needs.
struct PageLook {
  unsigned widthPt = 144;  // a size no paper table has: its image is the page less the margins
  unsigned heightPt = 144;
  unsigned dpi = 600;
  unsigned rasterWidth = 0;  // pixels; 0: the whole page at dpi
  unsigned rasterHeight = 0;
  unsigned noiseRows = 0;
  unsigned copies = 1;       // NumCopies of the header
};
RasterPage MakePage(int index, const PageLook& look);
std::vector<RasterPage> MakePages(int count, const PageLook& look);
// The raster stream of the pages (libcups' writer, uncompressed unless mode says otherwise).
std::string RasterBytes(const std::vector<RasterPage>& pages, cups_mode_t mode = CUPS_RASTER_WRITE);
// Where each page's header starts in RasterBytes(pages, mode), and the stream's size at the end.
std::vector<size_t> PageStarts(const std::vector<RasterPage>& pages, cups_mode_t mode = CUPS_RASTER_WRITE);

// ---- Running the filter ----

struct Job {
  Printer printer = kPrinterZ;
  std::string options;  // argv[5], as CUPS passes it
  unsigned copies = 1;  // argv[4]
  std::string raster;   // on standard input
};

// What a run injects besides what RunOptions already says.
struct Faults {
  std::string preload;                 // a shim for LD_PRELOAD, or empty
  std::vector<std::string> env;        // e.g. the shim's settings
  std::string asanOptions;             // appended to ASAN_OPTIONS
  // TMPDIR of the job: by default a fresh empty folder of the run. A given path is used as it is
  // (a folder that does not exist, a small tmpfs).
  std::string tmpdir;
  bool tmpdirMissing = false;  // TMPDIR names a folder that does not exist (in the run's own folder)
};

struct Outcome {
  ProcessResult run;
  vi::InspectResult stream;           // of run.out
  std::vector<std::string> errors;    // the "ERROR: " lines
  std::vector<std::string> leftInTmp; // entries left in TMPDIR (for a missing one: in the folder above)
  std::string tmpdir;                 // the TMPDIR the job had
};

std::string FilterPath();
std::string IoShim();
std::string AllocShim();
std::string ProbePath();

// Runs a program with the shim, sanitizer options and variables of `faults` (not TMPDIR).
ProcessResult RunWithFaults(const std::string& program, const std::vector<std::string>& args, RunOptions run,
                            const Faults& faults);
// Runs the filter on the job: PPD from the fixtures, the raster on standard input, TMPDIR as
// `faults` says.
Outcome RunJob(const Job& job, RunOptions run = RunOptions(), const Faults& faults = Faults());

// Runs count independent tasks on a few threads (the machine has two cores) and returns their
// results in order. Tasks must not use gtest assertions; the caller checks the results.
template <typename T>
std::vector<T> RunParallel(size_t count, const std::function<T(size_t)>& task, unsigned workers = 0);
unsigned DefaultWorkers();

// ---- Reading the outcome ----

using varnel_test::ErrorLines;
size_t Count(const std::string& text, const std::string& what);
bool Has(const std::string& text, const std::string& what);
// An error report of AddressSanitizer, LeakSanitizer or UndefinedBehaviorSanitizer in the log.
bool SanitizerReport(const std::string& err);
std::string Defects(const vi::InspectResult& stream);
// A one-line account of a run for failure messages: exit or signal, bytes, pages, defects.
std::string Describe(const Outcome& outcome);

// What a run did that it should not have done, collected so that one failure message per run
// says all of it.
class Findings {
 public:
  void Expect(bool ok, const std::string& what) {
    if (!ok) items_.push_back(what);
  }
  bool empty() const { return items_.empty(); }
  std::string Text() const;

 private:
  std::vector<std::string> items_;
};

// The checks that most fault cases share. Exit: the program exited with this status (not killed,
// not timed out). ErrorLines: the "ERROR: " lines are exactly these, in any order. Clean: no sanitizer
// report, nothing left in TMPDIR.
void ExpectExit(Findings* f, const Outcome& o, int status);
void ExpectErrorLines(Findings* f, const Outcome& o, const std::vector<std::string>& lines);
void ExpectNoLeftovers(Findings* f, const Outcome& o);
void ExpectReady(Findings* f, const Outcome& o, bool ready);
// The stream is well formed and the document ended (or, with emptyAllowed, nothing was sent).
void ExpectWellFormed(Findings* f, const Outcome& o, bool emptyAllowed = false);
std::string Signal(int number);

// Byte ranges of the date and time fields (the C system-date record, the Z "@PJL JOBTIME=" line).
std::vector<std::pair<size_t, size_t>> DateFields(const vi::InspectResult& stream);
// Empty when `part` equals the start of `whole` outside the date fields of `whole`; else where
// and how they differ.
std::string PrefixMismatch(const std::string& part, const std::string& whole, const vi::InspectResult& wholeStream);

// Pages compared by their bitmaps.
bool SamePicture(const vi::Page& a, const vi::Page& b);
// Empty when the pages of `got` are, in order, the pages `want` (by picture); else a description.
std::string PageMismatch(const std::vector<vi::Page>& got, const std::vector<const vi::Page*>& want);
std::vector<const vi::Page*> PagesOf(const vi::InspectResult& stream, size_t first = 0, size_t count = SIZE_MAX);
// Offset of the first item of this name, or SIZE_MAX.
size_t ItemOffset(const vi::InspectResult& stream, const std::string& name);
// Index (0-based) of the page whose records hold `offset`, or -1 before the first page.
int PageAt(const vi::InspectResult& stream, size_t offset);

// A tmpfs of the given size mounted on a fresh folder for the object's lifetime; empty path when
// that is not possible (not root, or mounting is not allowed here) and why in reason().
class SmallTmpfs {
 public:
  explicit SmallTmpfs(const std::string& size);
  ~SmallTmpfs();
  SmallTmpfs(const SmallTmpfs&) = delete;
  SmallTmpfs& operator=(const SmallTmpfs&) = delete;
  const std::string& path() const { return path_; }
  const std::string& reason() const { return reason_; }

 private:
  varnel_test::TempDir base_;
  std::string path_;
  std::string reason_;
};

// ---- Template definition ----

template <typename T>
std::vector<T> RunParallel(size_t count, const std::function<T(size_t)>& task, unsigned workers) {
  std::vector<T> results(count);
  std::atomic<size_t> next{0};
  std::mutex failure_lock;
  std::string failure;
  auto worker = [&]() {
    for (size_t i = next++; i < count; i = next++) {
      try {
        results[i] = task(i);
      } catch (const std::exception& e) {
        std::lock_guard<std::mutex> hold(failure_lock);
        failure = e.what();
      }
    }
  };
  std::vector<std::thread> threads;
  unsigned n = workers != 0 ? workers : DefaultWorkers();
  for (unsigned t = 0; t < n && t < count; ++t) threads.emplace_back(worker);
  for (std::thread& t : threads) t.join();
  if (!failure.empty()) throw std::runtime_error("a parallel task failed: " + failure);
  return results;
}

}  // namespace fault
