// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
#include "fault_harness.h"

#include <dirent.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace fault {

using varnel_test::BuildPath;
using varnel_test::FlatPage;
using varnel_test::GreyHeader;
using varnel_test::ReadFile;
using varnel_test::SourcePath;
using varnel_test::TempDir;

const Printer kPrinterC{"platform_c.ppd", "C"};
const Printer kPrinterZ{"platform_z.ppd", "Z"};
const Printer kPrinterM{"platform_m.ppd", "M"};
const Printer kPrinterZManualDuplex{"manual_duplex_z.ppd", "ZManualDuplex"};

void PrintTo(const Printer& printer, std::ostream* os) { *os << printer.fixture; }

std::string FilterPath() { return BuildPath("gdi_filter/rastertoVarnel"); }
std::string IoShim() { return FAULT_IO_SHIM; }
std::string AllocShim() { return FAULT_ALLOC_SHIM; }
std::string ProbePath() { return FAULT_PROBE; }

// ---- Pages and rasters ----

namespace {

constexpr unsigned kBarTop = 60, kBarRows = 30, kBarLeft = 300, kBarRight = 500;

}  // namespace

RasterPage MakePage(int index, const PageLook& look) {
  cups_page_header2_t header = GreyHeader(look.widthPt, look.heightPt, look.dpi, look.rasterWidth, look.rasterHeight);
  header.NumCopies = look.copies;
  RasterPage page = FlatPage(header, 255);
  const unsigned width = header.cupsBytesPerLine, height = header.cupsHeight;
  const unsigned right = std::min(kBarRight, width);
  for (int j = 0; j < index; ++j)
    for (unsigned y = kBarTop + 2 * kBarRows * j; y < kBarTop + 2 * kBarRows * j + kBarRows && y < height; ++y)
      if (kBarLeft < right) memset(&page.pixels[static_cast<size_t>(y) * width + kBarLeft], 0, right - kBarLeft);
  // Noise in the lower half, the same for the same page index in every run.
  uint32_t state = 2463534242u + static_cast<uint32_t>(index) * 7919u;
  const unsigned first = height / 2;
  for (unsigned y = first; y < first + look.noiseRows && y < height; ++y) {
    uint8_t* row = &page.pixels[static_cast<size_t>(y) * width];
    for (unsigned x = 0; x < width; ++x) {
      state ^= state << 13;
      state ^= state >> 17;
      state ^= state << 5;
      row[x] = static_cast<uint8_t>(state >> 24);
    }
  }
  return page;
}

std::vector<RasterPage> MakePages(int count, const PageLook& look) {
  std::vector<RasterPage> pages;
  for (int k = 1; k <= count; ++k) pages.push_back(MakePage(k, look));
  return pages;
}

std::string RasterBytes(const std::vector<RasterPage>& pages, cups_mode_t mode) {
  TempDir dir;
  varnel_test::WriteRaster(dir.File("job.ras"), pages, mode);
  return ReadFile(dir.File("job.ras"));
}

std::vector<size_t> PageStarts(const std::vector<RasterPage>& pages, cups_mode_t mode) {
  std::vector<size_t> starts;
  const std::string whole = RasterBytes(pages, mode);
  for (size_t k = 0; k <= pages.size(); ++k) {
    std::string part = RasterBytes(std::vector<RasterPage>(pages.begin(), pages.begin() + k), mode);
    // The writer streams: the first k pages are the start of the whole raster.
    if (whole.compare(0, part.size(), part) != 0) throw std::runtime_error("the raster writer does not stream");
    starts.push_back(part.size());
  }
  return starts;
}

// ---- Running the filter ----

namespace {

std::vector<std::string> Entries(const std::string& folder) {
  std::vector<std::string> names;
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return names;
  while (dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

unsigned DefaultWorkers() {
  const char* text = getenv("VARNEL_FAULT_WORKERS");
  int n = text != nullptr ? atoi(text) : 0;
  return n > 0 ? static_cast<unsigned>(n) : 2;
}

ProcessResult RunWithFaults(const std::string& program, const std::vector<std::string>& args, RunOptions run,
                            const Faults& faults) {
  std::string asan = getenv("ASAN_OPTIONS") != nullptr ? getenv("ASAN_OPTIONS") : "";
  auto addAsan = [&](const std::string& option) {
    if (!option.empty()) asan += (asan.empty() ? "" : ":") + option;
  };
  addAsan(faults.asanOptions);
  if (!faults.preload.empty()) {
    run.env.push_back("LD_PRELOAD=" + faults.preload);
    // The sanitizer runtime wants to come first in the library list; the shim comes before it.
    if (FAULT_SANITIZED) addAsan("verify_asan_link_order=0");
  }
  if (!asan.empty()) run.env.push_back("ASAN_OPTIONS=" + asan);
  for (const std::string& e : faults.env) run.env.push_back(e);
  return varnel_test::RunProgram(program, args, run);
}

Outcome RunJob(const Job& job, RunOptions run, const Faults& faults) {
  TempDir runDir;
  Outcome outcome;
  std::string checked;  // the folder that must be empty afterwards
  if (!faults.tmpdir.empty()) {
    outcome.tmpdir = checked = faults.tmpdir;
  } else {
    checked = runDir.File("tmp");
    mkdir(checked.c_str(), 0700);
    outcome.tmpdir = faults.tmpdirMissing ? checked + "/missing" : checked;
  }
  run.env.push_back("PPD=" + SourcePath(std::string("tests/fixtures/ppd/") + job.printer.fixture));
  run.env.push_back("TMPDIR=" + outcome.tmpdir);
  run.stdin_data = job.raster;
  outcome.run = RunWithFaults(FilterPath(), {"42", "user", "title", std::to_string(job.copies), job.options}, run,
                              faults);
  outcome.stream = vi::InspectStream(reinterpret_cast<const uint8_t*>(outcome.run.out.data()), outcome.run.out.size());
  outcome.errors = ErrorLines(outcome.run.err);
  for (const std::string& name : Entries(checked)) outcome.leftInTmp.push_back(name);
  return outcome;
}

// ---- Reading the outcome ----


size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

bool Has(const std::string& text, const std::string& what) { return text.find(what) != std::string::npos; }

namespace {

// Where a sanitizer's error report starts in the log (its warnings, such as an allocation it
// refused under allocator_may_return_null, are no reports), or npos.
size_t SanitizerReportAt(const std::string& err) {
  size_t at = std::string::npos;
  for (const char* mark : {"ERROR: AddressSanitizer", "ERROR: LeakSanitizer", ": runtime error:",
                           "SUMMARY: UndefinedBehaviorSanitizer"})
    at = std::min(at, err.find(mark));
  return at;
}

}  // namespace

bool SanitizerReport(const std::string& err) { return SanitizerReportAt(err) != std::string::npos; }

std::string Defects(const vi::InspectResult& stream) { return vi::FormatDefects(stream); }

std::string Describe(const Outcome& o) {
  std::string text = "exit status " + std::to_string(o.run.exit_status);
  if (o.run.term_signal != 0) text = "ended by signal " + Signal(o.run.term_signal);
  if (o.run.timed_out) text += ", timed out";
  if (o.run.killed_after_signal) text += ", killed: still running long after the signal";
  if (o.run.signal_sent) text += ", ended " + std::to_string(o.run.exit_after_signal_ms) + " ms after the signal";
  text += "; " + std::to_string(o.run.out.size()) + " bytes out, " + std::to_string(o.stream.pages.size()) +
          " pages, " + std::to_string(o.stream.defects.size()) + " defects, " + std::to_string(o.errors.size()) +
          " error lines, " + std::to_string(Count(o.run.err, "PAGE: ")) + " PAGE lines";
  return text;
}

std::string Findings::Text() const {
  std::string text;
  for (const std::string& item : items_) text += "  - " + item + "\n";
  return text;
}

std::string Signal(int number) {
  const char* name = strsignal(number);
  return std::to_string(number) + " (" + (name != nullptr ? name : "?") + ")";
}

void ExpectExit(Findings* f, const Outcome& o, int status) {
  if (o.run.timed_out) {
    f->Expect(false, "did not end: killed after the run's time limit");
  } else if (o.run.killed_after_signal) {
    f->Expect(false, "did not end within " + std::string("the time allowed after the signal; killed"));
  } else if (o.run.term_signal != 0) {
    f->Expect(false, "ended by signal " + Signal(o.run.term_signal) + " instead of exiting with status " +
                         std::to_string(status));
  } else {
    f->Expect(o.run.exit_status == status, "exit status " + std::to_string(o.run.exit_status) + ", not " +
                                               std::to_string(status));
  }
}

void ExpectErrorLines(Findings* f, const Outcome& o, const std::vector<std::string>& lines) {
  std::vector<std::string> got = o.errors, want = lines;
  std::sort(got.begin(), got.end());
  std::sort(want.begin(), want.end());
  if (got == want) return;
  std::string text = "error lines are not ";
  if (lines.empty()) text += "none";
  for (const std::string& line : lines) text += "\"" + line + "\" ";
  text += "; it logged:";
  if (o.errors.empty()) text += " none";
  for (size_t i = 0; i < o.errors.size() && i < 8; ++i) text += "\n      " + o.errors[i];
  if (o.errors.size() > 8) text += "\n      ... " + std::to_string(o.errors.size() - 8) + " more";
  f->Expect(false, text);
}

void ExpectNoLeftovers(Findings* f, const Outcome& o) {
  size_t report = SanitizerReportAt(o.run.err);
  if (report != std::string::npos) {
    size_t line = o.run.err.rfind('\n', report);
    f->Expect(false, "sanitizer report in the log:\n" + o.run.err.substr(line == std::string::npos ? 0 : line + 1, 2000));
  }
  f->Expect(o.leftInTmp.empty(), "left in TMPDIR: " + (o.leftInTmp.empty() ? "" : o.leftInTmp.front()));
}

void ExpectReady(Findings* f, const Outcome& o, bool ready) {
  f->Expect(Has(o.run.err, "INFO: Ready to print.") == ready,
            ready ? "no \"INFO: Ready to print.\"" : "logs \"INFO: Ready to print.\"");
}

void ExpectWellFormed(Findings* f, const Outcome& o, bool emptyAllowed) {
  if (emptyAllowed && o.run.out.empty()) return;
  if (o.stream.Clean()) return;
  std::string text = "the stream (" + std::to_string(o.run.out.size()) + " bytes) is not well formed:";
  for (size_t i = 0; i < o.stream.defects.size() && i < 4; ++i)
    text += "\n      at " + std::to_string(o.stream.defects[i].offset) + ": " + o.stream.defects[i].what;
  if (o.stream.defects.size() > 4) text += "\n      ... " + std::to_string(o.stream.defects.size() - 4) + " more";
  f->Expect(false, text);
}

std::vector<std::pair<size_t, size_t>> DateFields(const vi::InspectResult& stream) {
  std::vector<std::pair<size_t, size_t>> fields;
  for (const vi::Item& item : stream.items)
    if (item.name == "cmdSysTime" || item.name == "@PJL JOBTIME=") fields.push_back({item.offset, item.length});
  return fields;
}

std::string PrefixMismatch(const std::string& part, const std::string& whole, const vi::InspectResult& wholeStream) {
  if (part.size() > whole.size())
    return std::to_string(part.size()) + " bytes, more than the " + std::to_string(whole.size()) +
           " of the fault-free stream";
  std::vector<bool> masked(part.size(), false);
  for (const auto& field : DateFields(wholeStream))
    for (size_t i = field.first; i < field.first + field.second && i < part.size(); ++i) masked[i] = true;
  for (size_t i = 0; i < part.size(); ++i) {
    if (!masked[i] && part[i] != whole[i])
      return "differs from the fault-free stream at offset " + std::to_string(i) + " of " + std::to_string(part.size());
  }
  return "";
}

bool SamePicture(const vi::Page& a, const vi::Page& b) {
  return a.decoded && b.decoded && a.bitsPerPixel == b.bitsPerPixel && a.plane.width == b.plane.width &&
         a.plane.height == b.plane.height && a.plane.rows == b.plane.rows;
}

std::string PageMismatch(const std::vector<vi::Page>& got, const std::vector<const vi::Page*>& want) {
  if (got.size() != want.size())
    return std::to_string(got.size()) + " pages where " + std::to_string(want.size()) + " were expected";
  for (size_t i = 0; i < got.size(); ++i) {
    if (!got[i].decoded) return "page " + std::to_string(i + 1) + " does not decode";
    if (!SamePicture(got[i], *want[i])) return "page " + std::to_string(i + 1) + " is not the expected picture";
  }
  return "";
}

std::vector<const vi::Page*> PagesOf(const vi::InspectResult& stream, size_t first, size_t count) {
  std::vector<const vi::Page*> pages;
  for (size_t i = first; i < stream.pages.size() && pages.size() < count; ++i) pages.push_back(&stream.pages[i]);
  return pages;
}

size_t ItemOffset(const vi::InspectResult& stream, const std::string& name) {
  for (const vi::Item& item : stream.items)
    if (item.name == name) return item.offset;
  return SIZE_MAX;
}

int PageAt(const vi::InspectResult& stream, size_t offset) {
  int index = -1;
  for (size_t i = 0; i < stream.pages.size(); ++i)
    if (stream.pages[i].offset <= offset) index = static_cast<int>(i);
  return index;
}

SmallTmpfs::SmallTmpfs(const std::string& size) {
  if (geteuid() != 0) {
    reason_ = "mounting a tmpfs needs root";
    return;
  }
  std::string mountPoint = base_.File("spool");
  mkdir(mountPoint.c_str(), 0700);
  std::string data = "size=" + size + ",mode=0700";
  if (mount("tmpfs", mountPoint.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, data.c_str()) != 0) {
    reason_ = std::string("cannot mount a tmpfs here: ") + strerror(errno);
    return;
  }
  path_ = mountPoint;
}

SmallTmpfs::~SmallTmpfs() {
  if (!path_.empty()) umount2(path_.c_str(), MNT_DETACH);
}

}  // namespace fault
