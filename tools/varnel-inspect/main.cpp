// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// varnel-inspect: lists, checks and pictures a host-based printer stream.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "stream_inspect.h"

namespace {

const char kUsage[] = "Usage: varnel-inspect [OPTION]... [FILE]\n";

const char kHelp[] =
    "Reads a printer stream of the C, Z or M platform from FILE (or standard input when FILE is\n"
    "\"-\", or missing while standard input is not a terminal), checks it and reports what it\n"
    "holds.\n"
    "\n"
    "  -l, --list        list every item: offset, length, kind, name and decoded fields\n"
    "                    (the default when neither --summary nor --quiet is given)\n"
    "  -s, --summary     print the machine-readable summary instead of the listing:\n"
    "                      stream platform=P bytes=N items=N pages=N\n"
    "                      job platform=P jobID=.. jobFlags=.. fineMode=.. tonerSave=.. density=..\n"
    "                          tonerParamBytes=.. languageVersion=.. year=.. month=.. day=..\n"
    "                          startDocParam0=.. startDocParam1=.. startDocParam2=.. jobTime=.. jobOwner=..\n"
    "                      page platform=P index=N offset=N pageNum=.. paper=.. copies=.. media=.. tray=..\n"
    "                          resX=.. resY=.. feedEdge=.. width=.. height=.. planeWidth=.. bpp=1|2 decoded=0|1\n"
    "                      defect offset=N what=TEXT TO THE END OF THE LINE\n"
    "                      result clean|defective defects=N\n"
    "                    index counts the pages in stream order, pageNum is the page-spec number\n"
    "                    (C, Z); paper is the printer's paper code; width is pixels per row,\n"
    "                    height lines, planeWidth bits per row of the decoded JBIG plane (twice\n"
    "                    width on a 2-bit page, 0 when not decoded); feedEdge is the page-spec mode\n"
    "                    byte of the C platform (64: long-edge feed)\n"
    "                    fields that the platform does not carry are \"-\"; text values are one\n"
    "                    word, with spaces and unprintable bytes written as %XX\n"
    "  -p, --pages DIR   write every decoded page as DIR/page-NNN.png and DIR/page-NNN.pbm\n"
    "                    (Z bands stacked, NNN the page's position in the stream). Both show the\n"
    "                    page as sent: duplex back sides arrive turned by 180 degrees and\n"
    "                    long-edge A5 pages by 90. The PBM is the bit plane; the PNG shows the\n"
    "                    printed dots: a 2-bit M page becomes a 2-bit grey PNG (level 0 white ..\n"
    "                    3 black) while its PBM shows the double-width bit plane\n"
    "  -t, --turn LIST   turn these pages of the PNG pictures by 180 degrees, to see back sides\n"
    "                    the way they lie on the printed sheet: \"even\", \"odd\" or page\n"
    "                    positions such as 2,4,6 (the PBM files stay as sent)\n"
    "  -q, --quiet       print only the defects\n"
    "  -h, --help        show this text\n"
    "\n"
    "Defects are printed as \"DEFECT at offset N: what\" (in the summary as defect lines).\n"
    "Exit status: 0 the stream is clean, 1 it has defects, 2 usage or input/output error.\n";

struct Options {
  bool list = false;
  bool summary = false;
  bool quiet = false;
  std::string pagesDir;
  std::string turn;  // "even", "odd" or a comma-separated list of page positions
  std::string input;
};

bool ValidTurnList(const std::string& list) {
  if (list == "even" || list == "odd") return true;
  bool digit = false;
  for (char c : list) {
    if (c == ',' && digit) {
      digit = false;
    } else if (c >= '0' && c <= '9') {
      digit = true;
    } else {
      return false;
    }
  }
  return digit;
}

bool Turned(const std::string& list, int index) {
  if (list == "even") return index % 2 == 0;
  if (list == "odd") return index % 2 == 1;
  for (size_t start = 0; start < list.size();) {
    size_t end = list.find(',', start);
    if (end == std::string::npos) end = list.size();
    if (list.compare(start, end - start, std::to_string(index)) == 0) return true;
    start = end + 1;
  }
  return false;
}

// Turns the plane by 180 degrees in place, pixel by pixel: the two bits of a 2-bit pixel keep
// their order.
void TurnPlane(varnel_inspect::Bitmap* plane, unsigned bitsPerPixel) {
  const unsigned bits = bitsPerPixel == 2 ? 2 : 1, pixels = plane->width / bits;
  const size_t stride = plane->Stride();
  std::vector<uint8_t> top(stride), bottom(stride);
  auto reversed = [&](const uint8_t* in, std::vector<uint8_t>* out) {
    std::fill(out->begin(), out->end(), 0);
    for (unsigned x = 0; x < pixels; ++x)
      for (unsigned b = 0; b < bits; ++b) {
        unsigned from = x * bits + b;
        if ((in[from / 8] >> (7 - from % 8)) & 1) {
          unsigned to = (pixels - 1 - x) * bits + b;
          (*out)[to / 8] |= static_cast<uint8_t>(0x80 >> (to % 8));
        }
      }
  };
  for (unsigned y = 0; y < (plane->height + 1) / 2; ++y) {
    uint8_t* upper = &plane->rows[y * stride];
    uint8_t* lower = &plane->rows[(plane->height - 1 - y) * stride];
    reversed(upper, &top);
    reversed(lower, &bottom);
    std::copy(top.begin(), top.end(), lower);
    std::copy(bottom.begin(), bottom.end(), upper);
  }
}

// Writes the pictures of each page as the inspector hands it over, so that only one page is in
// memory at a time. The first failure is kept and ends the writing.
class PictureWriter {
 public:
  explicit PictureWriter(const Options& options) : options_(options) {}

  void operator()(varnel_inspect::Page& page) {
    if (options_.pagesDir.empty() || !page.decoded || !error_.empty()) return;
    char name[32];
    snprintf(name, sizeof name, "/page-%03d", page.index);
    std::string base = options_.pagesDir + name;
    // The PBM shows the plane as sent; the PNG may be turned, which is done to the plane itself
    // as it is not needed afterwards.
    if (!varnel_inspect::WritePbm(base + ".pbm", page.plane, &error_)) return;
    if (!options_.turn.empty() && Turned(options_.turn, page.index)) TurnPlane(&page.plane, page.bitsPerPixel);
    varnel_inspect::WritePng(base + ".png", page, &error_);
  }

  const std::string& error() const { return error_; }

 private:
  const Options& options_;
  std::string error_;
};

int UsageError(const std::string& message) {
  fprintf(stderr, "varnel-inspect: %s\n%sTry 'varnel-inspect --help' for more information.\n", message.c_str(), kUsage);
  return 2;
}

// Returns 0 when the arguments are good, else the exit status of the usage error.
int ParseOptions(int argc, char** argv, Options* options, bool* help) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      *help = true;
    } else if (arg == "-l" || arg == "--list") {
      options->list = true;
    } else if (arg == "-s" || arg == "--summary") {
      options->summary = true;
    } else if (arg == "-q" || arg == "--quiet") {
      options->quiet = true;
    } else if ((arg == "-p" || arg == "--pages") && i + 1 < argc) {
      options->pagesDir = argv[++i];
    } else if (arg.compare(0, 8, "--pages=") == 0) {
      options->pagesDir = arg.substr(8);
    } else if ((arg == "-t" || arg == "--turn") && i + 1 < argc) {
      options->turn = argv[++i];
      if (!ValidTurnList(options->turn)) return UsageError("invalid page list \"" + options->turn + "\"");
    } else if (arg.compare(0, 7, "--turn=") == 0) {
      options->turn = arg.substr(7);
      if (!ValidTurnList(options->turn)) return UsageError("invalid page list \"" + options->turn + "\"");
    } else if ((arg.empty() || arg[0] != '-' || arg == "-") && options->input.empty()) {
      options->input = arg;
    } else if (!arg.empty() && arg[0] != '-') {
      return UsageError("more than one input file: \"" + arg + "\"");
    } else {
      return UsageError("unknown or incomplete option \"" + arg + "\"");
    }
  }
  if (!options->turn.empty() && options->pagesDir.empty()) return UsageError("--turn needs --pages DIR");
  return 0;
}

bool ReadAll(FILE* file, std::vector<uint8_t>* data) {
  // A file is read into a buffer of its size, not one grown by doubling.
  struct stat status;
  if (fstat(fileno(file), &status) == 0 && S_ISREG(status.st_mode) && status.st_size > 0)
    data->reserve(static_cast<size_t>(status.st_size));
  uint8_t buffer[65536];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, file)) > 0) data->insert(data->end(), buffer, buffer + n);
  return !ferror(file);
}

bool ReadInput(const std::string& name, std::vector<uint8_t>* data) {
  if (name.empty() || name == "-") return ReadAll(stdin, data);
  FILE* file = fopen(name.c_str(), "rb");
  if (!file) {
    fprintf(stderr, "varnel-inspect: cannot open %s: %s\n", name.c_str(), strerror(errno));
    return false;
  }
  bool ok = ReadAll(file, data);
  fclose(file);
  if (!ok) fprintf(stderr, "varnel-inspect: cannot read %s\n", name.c_str());
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  bool help = false;
  if (int status = ParseOptions(argc, argv, &options, &help)) return status;
  if (help) {
    fputs(kUsage, stdout);
    fputs(kHelp, stdout);
    return 0;
  }
  // Without a file name a terminal would wait for a stream that nobody types.
  if (options.input.empty() && isatty(STDIN_FILENO)) {
    fprintf(stderr, "%sTry 'varnel-inspect --help' for more information.\n", kUsage);
    return 2;
  }
  std::vector<uint8_t> data;
  if (!ReadInput(options.input, &data)) return 2;
  if (!options.pagesDir.empty()) mkdir(options.pagesDir.c_str(), 0755);
  // Pages are checked one at a time, and each page's plane is released once its pictures are
  // written, so that a long job takes no more memory than its largest page.
  varnel_inspect::InspectLimits limits;
  limits.keepPlanes = false;
  PictureWriter pictures(options);
  varnel_inspect::InspectResult result =
      varnel_inspect::InspectStream(data.data(), data.size(), limits, std::ref(pictures));
  std::vector<uint8_t>().swap(data);
  if (options.summary) {
    fputs(varnel_inspect::FormatSummary(result).c_str(), stdout);
  } else {
    if (options.list || !options.quiet) fputs(varnel_inspect::FormatListing(result).c_str(), stdout);
    fputs(varnel_inspect::FormatDefects(result).c_str(), stdout);
  }
  if (!pictures.error().empty()) {
    fprintf(stderr, "varnel-inspect: %s\n", pictures.error().c_str());
    return 2;
  }
  if (fflush(stdout) != 0) return 2;
  return result.Clean() ? 0 : 1;
}
