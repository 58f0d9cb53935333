// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Writes the seed corpus of the three fuzzers into FOLDER/raster, FOLDER/inspect and FOLDER/ps:
// small jobs for fuzz_raster_filter (each platform and paper table, copies, collated copies,
// duplex with an odd page count, long-edge feed, 1200 dpi and two bits per pixel, the stream
// forms libcups reads, the header values the filter refuses, some paper sizes); the printer
// streams that the filter makes of them, for fuzz_inspect; and for fuzz_ps_text the PostScript
// fixture, a PJL job, the lines the page-size correction edits, device IDs and status replies.
// The committed corpus in tools/fuzz/corpus was written by it:
//   cmake --build build-fuzz --target fuzz_seeds && build-fuzz/tools/fuzz/fuzz_seeds tools/fuzz/corpus
// (VARNEL_SEED_LOG=1 shows the filter's log of each job.)
#include <cups/raster.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "raster_fuzz_input.h"
#include "rastertoVarnel.h"

namespace {

using Bytes = std::vector<uint8_t>;
using raster_fuzz::kFreeKind;
using raster_fuzz::kPaperKind;

// ---- Raster jobs ----

enum Printer { C = 0, Z = 1, M = 2, C_MFP = 3, NAMED_C = 4, NAMED_M = 5, NICKNAME = 6, UNKNOWN = 7, UNLISTED = 8,
               NO_MODEL = 9 };

struct Page {
  unsigned pageW = 40, pageH = 30;  // points; with kind kPaperKind a paper size of PaperSizes()
  unsigned width = 120, height = 64;
  uint8_t kind = 0;
  uint8_t resolution = 0;  // index of kResolutions
  uint8_t flags = 0;       // Duplex, Tumble, longer lines: byte 2 of the record
  uint8_t copies = 1;
  uint8_t mediaType = 0;
  uint8_t color = 0;       // byte 5 of the record
  int cut = -1;            // raster bytes left of the page (-1: all); only on the last page
};

struct Options {
  uint8_t bytes[3] = {0, 0, 0};
};
Options Opt(uint8_t a, uint8_t b = 0, uint8_t c = 0) {
  Options o;
  o.bytes[0] = a;
  o.bytes[1] = b;
  o.bytes[2] = c;
  return o;
}
// Bits of the option bytes (raster_fuzz::JobOptions).
constexpr uint8_t kDuplexNoTumble = 2, kDuplexTumble = 3, kSidesLong = 4, kCollate = 0x08, kRotation = 0x10,
                  kLongEdge = 0x20, kDpi1200 = 0x40, kNegative = 0x80;
constexpr uint8_t kTonerOn = 1, kTonerOff = 2, kDensity4 = 5 << 2, kDensity0 = 1 << 2, kManualFeed = 2 << 5,
                  kAutoFeed = 3 << 5, kFine = 0x80;
constexpr uint8_t kReverse = 1, kPageSizeA4 = 1 << 1, kPageSizeLegal = 3 << 1, kBare = 0x10;
// Stream byte: sync forms of raster_fuzz::kSyncs.
constexpr uint8_t kV2 = 0, kV3 = 2, kV1 = 3, kV2Swapped = 4, kV3Swapped = 5, kV1Swapped = 6, kStdin = 8;
// Page flags: Duplex and Tumble of the header.
constexpr uint8_t kHeaderDuplex = 1, kHeaderTumble = 1 << 2, kLongerLines = 0x10;

struct RasterSeed {
  const char* name;
  uint8_t printer;
  uint8_t stream;
  Options options;
  std::vector<Page> pages;
};

unsigned PaperIndex(unsigned w, unsigned h) {
  const auto& sizes = raster_fuzz::PaperSizes();
  for (size_t i = 0; i < sizes.size(); ++i)
    if (sizes[i].first == w && sizes[i].second == h) return static_cast<unsigned>(i);
  fprintf(stderr, "no paper size %u x %u\n", w, h);
  exit(1);
}

Page Paper(unsigned w, unsigned h, unsigned width = 128, unsigned height = 100) {
  Page p;
  p.kind = kPaperKind;
  p.pageW = PaperIndex(w, h);
  p.pageH = 0;
  p.width = width;
  p.height = height;
  return p;
}

Page Small(unsigned pageW, unsigned pageH, unsigned width, unsigned height) {
  Page p;
  p.pageW = pageW;
  p.pageH = pageH;
  p.width = width;
  p.height = height;
  return p;
}

std::vector<Page> Pages(int n, Page page) { return std::vector<Page>(static_cast<size_t>(n), page); }

// The record of a page: the field values that PageHeader turns back into the page's values.
void PutRecord(uint8_t* r, const Page& p) {
  r[0] = p.kind;
  r[1] = p.resolution;
  r[2] = p.flags;
  r[3] = p.copies;
  r[4] = p.mediaType;
  r[5] = p.color;
  const bool free = p.kind >= kFreeKind;
  raster_fuzz::PutLe16(r + 6, free ? p.width : p.width - 1);
  raster_fuzz::PutLe16(r + 8, free ? p.height : p.height - 1);
  raster_fuzz::PutLe16(r + 10, p.kind < kPaperKind ? p.pageW - 20 : p.pageW);
  raster_fuzz::PutLe16(r + 12, p.kind < kPaperKind ? p.pageH - 20 : p.pageH);
  const cups_page_header2_t h = raster_fuzz::PageHeader(r);
  if (h.cupsWidth != p.width || h.cupsHeight != p.height ||
      (p.kind < kPaperKind && (h.PageSize[0] != p.pageW || h.PageSize[1] != p.pageH))) {
    fprintf(stderr, "page %u x %u (%u x %u points) has no record\n", p.width, p.height, p.pageW, p.pageH);
    exit(1);
  }
}

ssize_t AppendTo(void* ctx, unsigned char* data, size_t length) {
  static_cast<Bytes*>(ctx)->insert(static_cast<Bytes*>(ctx)->end(), data, data + length);
  return static_cast<ssize_t>(length);
}

// Text-like bars and a grey ramp, different on every page.
Bytes PagePixels(const cups_page_header2_t& h, int page) {
  Bytes pixels(static_cast<size_t>(h.cupsBytesPerLine) * h.cupsHeight, 255);
  for (unsigned y = 0; y < h.cupsHeight; ++y)
    for (unsigned x = 0; x < h.cupsBytesPerLine; ++x) {
      uint8_t& v = pixels[static_cast<size_t>(y) * h.cupsBytesPerLine + x];
      if ((y / 6 + page) % 3 == 0 && (x / 10) % 4 != 3) v = 0;
      if (y >= h.cupsHeight * 3 / 4) v = static_cast<uint8_t>(x * 255 / (h.cupsBytesPerLine ? h.cupsBytesPerLine : 1));
    }
  return pixels;
}

// The page's data as the file holds it: libcups' compression for the compressed sync words, the
// lines themselves for the others.
Bytes PageData(const cups_page_header2_t& header, bool compressed, int page) {
  Bytes pixels = PagePixels(header, page);
  if (!compressed) return pixels;
  Bytes out;
  cups_raster_t* ras = cupsRasterOpenIO(AppendTo, &out, CUPS_RASTER_WRITE_COMPRESSED);
  cups_page_header2_t h = header;
  bool ok = ras != nullptr && cupsRasterWriteHeader2(ras, &h) != 0 &&
            cupsRasterWritePixels(ras, pixels.data(), static_cast<unsigned>(pixels.size())) == pixels.size();
  if (ras != nullptr) cupsRasterClose(ras);
  const size_t skip = 4 + sizeof(cups_page_header2_t);
  if (!ok || out.size() < skip) return pixels;  // a header libcups does not write: the lines as they are
  return Bytes(out.begin() + static_cast<long>(skip), out.end());
}

Bytes RasterInput(const RasterSeed& s) {
  Bytes in = {s.printer, s.stream, s.options.bytes[0], s.options.bytes[1], s.options.bytes[2]};
  const bool compressed = raster_fuzz::kSyncs[s.stream & 7].compressed;
  int n = 0;
  for (const Page& p : s.pages) {
    uint8_t record[raster_fuzz::kPageRecordBytes] = {0};
    PutRecord(record, p);
    Bytes data = PageData(raster_fuzz::PageHeader(record), compressed, n++);
    if (p.cut >= 0 && static_cast<size_t>(p.cut) < data.size()) data.resize(static_cast<size_t>(p.cut));
    in.insert(in.end(), record, record + sizeof record);
    in.insert(in.end(), data.begin(), data.end());
  }
  return in;
}

std::vector<RasterSeed> RasterSeeds() {
  Page small = Small(34, 30, 120, 64);
  Page tiny = Small(30, 26, 40, 20);  // for the uncompressed forms
  Page duplexPage = small;
  duplexPage.flags = kHeaderDuplex;
  Page tumblePage = duplexPage;
  tumblePage.flags = kHeaderDuplex | kHeaderTumble;
  Page copies3 = small;
  copies3.copies = 3;
  Page copies20 = small;
  copies20.copies = 255;  // 20 copies
  Page noCopies = small;
  noCopies.copies = 0;
  Page hi = Small(30, 26, 128, 100);
  hi.resolution = 3;  // 1200 x 1200
  Page mixed = small;
  mixed.resolution = 5;  // 600 x 1200
  Page low = Small(35, 35, 40, 40);
  low.resolution = 7;  // 150 dpi
  Page wide = Small(30, 30, 128, 16);  // wider than the page: cropped around the centre
  Page tall = Small(30, 30, 16, 128);  // taller: the lines below the page are dropped
  Page cut = small;
  cut.cut = 150;  // the file ends inside the page
  Page media = small;
  media.mediaType = 5;
  Page media1 = small;
  media1.mediaType = 1;
  Page sw = small;
  sw.color = 4;  // CUPS_CSPACE_SW
  Page black = small;
  black.color = 6;  // CUPS_CSPACE_K: refused
  Page oneBit = small;
  oneBit.color = 5 << 3;  // 1 bit per pixel: refused
  Page longer = small;
  longer.flags = kLongerLines;  // cupsBytesPerLine != cupsWidth: refused
  Page noArea = Small(22, 30, 16, 16);  // no printable area within 12-point margins
  Page freeBig = small;
  freeBig.kind = kFreeKind;  // free values: larger than any paper
  freeBig.resolution = 120;
  freeBig.pageW = 4000;
  freeBig.pageH = 100;
  freeBig.width = 32;
  freeBig.height = 8;
  Page freeDpi = freeBig;
  freeDpi.resolution = 0;  // 0 dpi
  freeDpi.pageW = 60;
  freeDpi.pageH = 60;
  Page freeLowDpi = freeBig;
  freeLowDpi.resolution = 1;  // 5 dpi: 300 pixels are wider than any paper
  freeLowDpi.pageW = 60;
  freeLowDpi.pageH = 60;
  freeLowDpi.width = 300;
  Page a4 = Paper(595, 842);
  Page a5 = Paper(420, 595);
  Page a5LongEdge = Paper(421, 595);
  Page legal = Paper(612, 1008, 100, 50);
  Page a3 = Paper(842, 1191, 100, 50);
  Page letterTurned = Paper(612, 792, 100, 50);
  letterTurned.pageH = 1;  // 792 x 612: matches no row
  Page envelope = Paper(297, 684, 100, 50);

  return {
      {"c-one-page", C, kV2, Opt(0), {small}},
      {"z-one-page", Z, kV2, Opt(0), {small}},
      {"m-one-page", M, kV2, Opt(0), {small}},
      {"c-mfp-two-pages", C_MFP, kV2, Opt(0), Pages(2, small)},
      {"named-c", NAMED_C, kV2, Opt(0), {small}},
      {"named-m", NAMED_M, kV2, Opt(0), {small}},
      {"nickname-listed", NICKNAME, kV2, Opt(0), {small}},
      {"unknown-model", UNKNOWN, kV2, Opt(0), {small}},
      {"nickname-unlisted", UNLISTED, kV2, Opt(0), {small}},
      {"no-modelname", NO_MODEL, kV2, Opt(0), {small}},
      {"c-copies", C, kV2, Opt(0), Pages(2, copies3)},
      {"z-collate", Z, kV2, Opt(kCollate), Pages(3, copies3)},
      {"m-collate-reverse", M, kV2, Opt(kCollate, 0, kReverse), Pages(2, copies3)},
      {"c-no-copies", C, kV2, Opt(kCollate), {noCopies}},
      {"z-collate-20-copies", Z, kV2, Opt(kCollate), Pages(2, copies20)},
      {"c-duplex-odd", C, kV2, Opt(kDuplexNoTumble), Pages(3, small)},
      {"z-duplex-tumble", Z, kV2, Opt(kDuplexTumble | kRotation), Pages(3, small)},
      {"m-header-duplex", M, kV2, Opt(0), Pages(3, duplexPage)},
      {"z-header-tumble", Z, kV2, Opt(0), Pages(2, tumblePage)},
      {"m-sides-collate", M, kV2, Opt(kSidesLong | kCollate), Pages(3, copies3)},
      {"c-1200", C, kV2, Opt(kDpi1200), {hi}},
      {"m-1200-two-bits", M, kV2, Opt(kDpi1200), Pages(2, hi)},
      {"z-mixed-resolution", Z, kV2, Opt(0), {mixed}},
      {"m-150dpi", M, kV2, Opt(0), {low}},
      {"c-negative-fine", C, kV2, Opt(kNegative, kFine | kDensity0), {small}},
      {"z-options-bare", Z, kV2, Opt(kCollate | kRotation | kNegative, kTonerOn, kBare), Pages(2, copies3)},
      {"z-toner-off-feed", Z, kV2, Opt(0, kTonerOff | kManualFeed | kDensity4), {media}},
      {"m-autofeed-media1", M, kV2, Opt(0, kAutoFeed), {media1}},
      {"c-wide-lines", C, kV2, Opt(0), {wide}},
      {"m-tall-page", M, kV2, Opt(0), {tall}},
      {"z-cut-file", Z, kV2, Opt(0), {small, cut}},
      {"c-soft-grey", C, kV2, Opt(0), {sw}},
      {"c-v3", C, kV3, Opt(0), Pages(2, tiny)},
      {"z-v1", Z, kV1, Opt(0), {tiny}},
      {"m-v2-swapped", M, kV2Swapped, Opt(0), Pages(2, small)},
      {"c-v3-swapped", C, kV3Swapped, Opt(0), {tiny}},
      {"z-v1-swapped", Z, kV1Swapped, Opt(0), {tiny}},
      {"m-stdin", M, kV2 | kStdin, Opt(kCollate), Pages(2, copies3)},
      {"c-refused-black", C, kV2, Opt(0), {small, black}},
      {"z-refused-one-bit", Z, kV2, Opt(0), {oneBit}},
      {"m-refused-line-length", M, kV2, Opt(0), {longer}},
      {"c-refused-no-area", C, kV2, Opt(0), {noArea}},
      {"z-free-too-large", Z, kV2, Opt(0), {small, freeBig}},
      {"m-free-0dpi", M, kV2, Opt(0), {freeDpi}},
      {"c-free-5dpi", C, kV2, Opt(0), {freeLowDpi}},
      {"c-a4", C, kV2, Opt(0), {a4}},
      {"z-a5-long-edge", Z, kV2, Opt(kLongEdge), {a5}},
      {"m-a5-421", M, kV2, Opt(0), {a5LongEdge}},
      {"c-mfp-envelope", C_MFP, kV2, Opt(0), {envelope}},
      {"z-legal-duplex", Z, kV2, Opt(kDuplexNoTumble), {legal}},
      {"m-a3-cut-to-legal", M, kV2, Opt(0, 0, kPageSizeLegal), {a3}},
      {"c-a3-a4-option", C, kV2, Opt(0, 0, kPageSizeA4), {a3}},
      {"z-letter-turned", Z, kV2, Opt(0), {letterTurned}},
  };
}

// ---- Running the filter on a job ----

// The printer stream that the filter makes of the job (empty when it makes none).
Bytes FilterStream(const raster_fuzz::Job& job, const char* fixtures) {
  int raster = memfd_create("seed-raster", 0), stream = memfd_create("seed-stream", 0);
  int null = open("/dev/null", O_RDWR);
  if (raster < 0 || stream < 0 || null < 0) {
    perror("memfd_create");
    exit(1);
  }
  if (write(raster, job.raster.data(), job.raster.size()) != static_cast<ssize_t>(job.raster.size())) {
    perror("write");
    exit(1);
  }
  lseek(raster, 0, SEEK_SET);
  const int saved0 = dup(0), saved1 = dup(1), saved2 = dup(2);
  dup2(raster, 0);
  dup2(stream, 1);
  if (getenv("VARNEL_SEED_LOG") == nullptr) dup2(null, 2);  // the filter's log, unless asked for
  const std::string ppd = std::string(fixtures) + "/" + job.printer, path = "/proc/self/fd/" + std::to_string(raster);
  setenv("PPD", ppd.c_str(), 1);
  std::string arg0 = "rastertoVarnel", id = "7", user = "seed", title = "seed", copies = "1", options = job.options,
              file = path;
  char* argv[] = {&arg0[0], &id[0], &user[0], &title[0], &copies[0], &options[0], &file[0], nullptr};
  rastertoVarnel_main(job.standardInput ? 6 : 7, argv);
  dup2(saved0, 0);
  dup2(saved1, 1);
  dup2(saved2, 2);
  close(saved0);
  close(saved1);
  close(saved2);
  off_t size = lseek(stream, 0, SEEK_END);
  Bytes out(static_cast<size_t>(size > 0 ? size : 0));
  if (!out.empty() && pread(stream, out.data(), out.size(), 0) != size) out.clear();
  close(raster);
  close(stream);
  close(null);
  return out;
}

// ---- PostScript text ----

// The layout FuzzedDataProvider reads in fuzz_ps_text: the options string from the front (a
// backslash and another character end it), the document in the middle, the numbers from the
// back (the last byte first).
Bytes PsInput(bool canceled, int width, int height, const std::string& options, int copies,
              const std::string& document) {
  Bytes in;
  for (char c : options) {
    if (c == '\\') in.push_back('\\');
    in.push_back(static_cast<uint8_t>(c));
  }
  in.push_back('\\');
  in.push_back('|');
  in.insert(in.end(), document.begin(), document.end());
  for (int value : {copies, height, width}) {
    in.push_back(static_cast<uint8_t>(value & 0xFF));
    in.push_back(static_cast<uint8_t>(value >> 8));
  }
  in.push_back(canceled ? 1 : 0);
  return in;
}

std::string ReadText(const std::string& path) {
  std::string text;
  FILE* file = fopen(path.c_str(), "rb");
  if (file == nullptr) {
    perror(path.c_str());
    exit(1);
  }
  char chunk[4096];
  size_t n;
  while ((n = fread(chunk, 1, sizeof chunk, file)) > 0) text.append(chunk, n);
  fclose(file);
  return text;
}

struct PsSeed {
  const char* name;
  Bytes input;
};

std::vector<PsSeed> PsSeeds(const std::string& samplePs) {
  const std::string pjl =
      "\x1b%-12345X@PJL JOB NAME=\"x\"\n@PJL SET USERNAME=\"u\"\n@PJL SET QTY=1\n@PJL SET DUPLEX=OFF\n%!PS\n"
      "%%BeginSetup\n<</PageSize [595 842]>> setpagedevice\n%%EndSetup\n%%Page: 1 1\nshowpage\n%%Page: 2 2\n"
      "showpage\n%%EOF\n\x1b%-12345X";
  const std::string pdfLike =
      "%!PS\n<</Type/Page/MediaBox [0 0 595 842]>>\n/pdfSetupPaper { } def\n595 842 pdfSetupPaper\n"
      "%RBIBeginNonPPDFeature: *NumCopies 2\n/NumCopies 2 def\n%RBIEndNonPPDFeature\n"
      "<<DeferredMediaSelection true>>setpagedevice\n%%Page: 1 1\nshowpage\n";
  std::string status(60, '\0');
  status[0] = '\x06';
  status.replace(4, 6, "vnhost");
  std::string statusOther = status;
  statusOther[0] = '\x86';
  return {
      {"sample", PsInput(false, 595, 842, "PageSize=A4", 1, samplePs)},
      {"sample-canceled", PsInput(true, 612, 792, "PageSize=Letter Collate=True", 2, samplePs)},
      {"pjl-job", PsInput(false, 595, 842, "PageSize=A4 Duplex=DuplexTumble Collate=True", 2, pjl)},
      {"pdf-lines", PsInput(false, 612, 792, "Collate=True", 3, pdfLike)},
      {"pin-print", PsInput(false, 0, 0, "LockedPinPrint=True PinNum1=1 PinNum2=2 PinNum3=3 PinNum4=4", 1, pjl)},
      {"delay-print", PsInput(false, 420, 595, "TimePrint=True PrintTimeH=23 PrintTimeM=59 FeedEdge=LongEdge", 1,
                              pdfLike)},
      {"job-password", PsInput(false, 0, 0, "job-password=1234 Duplex=DuplexNoTumble noCollate", 1, "%!PS\n")},
      {"device-id-qd3840", PsInput(false, 0, 0, "", 1, "CLS:PRINTER;MDL:PRLM8400ADN series;CMD:PJL;MFG:PRUL;")},
      {"device-id-generic", PsInput(false, 0, 0, "", 1, "MFG:TT VISTA;MDL:TP5720DN series;CLS:PRINTER;")},
      {"status-cancel", PsInput(false, 0, 0, "vnhost", 1, status)},
      {"status-cancel-86", PsInput(false, 0, 0, "VNHOST", 1, statusOther)},
      {"quoted", PsInput(false, 612, 1008, "job-name=\"a \\\"b\\\"\" copies=1000 job-id=99", 1000, pjl)},
  };
}

// ---- Files ----

void WriteFile(const std::string& path, const Bytes& data) {
  FILE* file = fopen(path.c_str(), "wb");
  if (file == nullptr || fwrite(data.data(), 1, data.size(), file) != data.size() || fclose(file) != 0) {
    perror(path.c_str());
    exit(1);
  }
}

void MakeFolder(const std::string& path) {
  if (mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) {
    perror(path.c_str());
    exit(1);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
    return 2;
  }
  // The CUPS back and side channels of the filter, before any descriptor of ours can take 3 or 4.
  for (int fd : {3, 4}) {
    int null = open("/dev/null", O_RDWR);
    if (null != fd) {
      dup2(null, fd);
      close(null);
    }
  }
  const std::string top = argv[1];
  for (const char* sub : {"", "/raster", "/inspect", "/ps"}) MakeFolder(top + sub);

  std::set<Bytes> streams;
  for (const RasterSeed& seed : RasterSeeds()) {
    Bytes input = RasterInput(seed);
    WriteFile(top + "/raster/" + seed.name, input);
    raster_fuzz::Job job;
    if (!raster_fuzz::DecodeJob(input.data(), input.size(), &job)) return 1;
    Bytes stream = FilterStream(job, VARNEL_FIXTURES);
    // A stream that another job made already is not written twice.
    if (!stream.empty() && streams.insert(stream).second) WriteFile(top + "/inspect/" + seed.name, stream);
  }
  for (const PsSeed& seed : PsSeeds(ReadText(std::string(VARNEL_SAMPLE_PS))))
    WriteFile(top + "/ps/" + seed.name, seed.input);
  return 0;
}
