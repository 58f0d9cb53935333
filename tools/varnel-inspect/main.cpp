// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// varnel-inspect: lists, checks and pictures a host-based printer stream.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "stream_inspect.h"

namespace {

const char kHelp[] =
    "Usage: varnel-inspect [OPTION]... [FILE]\n"
    "Reads a printer stream of the C, Z or M platform from FILE (or standard input when FILE is\n"
    "missing or \"-\"), checks it and reports what it holds.\n"
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
    "                    (Z bands stacked). The PBM is the bit plane as sent; the PNG is what is\n"
    "                    printed: a 2-bit M page becomes a 2-bit grey PNG (level 0 white .. 3 black)\n"
    "                    while its PBM shows the double-width bit plane\n"
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
  std::string input;
};

bool ParseOptions(int argc, char** argv, Options* options, bool* help) {
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
    } else if ((arg.empty() || arg[0] != '-' || arg == "-") && options->input.empty()) {
      options->input = arg;
    } else {
      fprintf(stderr, "varnel-inspect: unknown or incomplete option \"%s\" (see --help)\n", arg.c_str());
      return false;
    }
  }
  return true;
}

bool ReadAll(FILE* file, std::vector<uint8_t>* data) {
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
  if (!ParseOptions(argc, argv, &options, &help)) return 2;
  if (help) {
    fputs(kHelp, stdout);
    return 0;
  }
  std::vector<uint8_t> data;
  if (!ReadInput(options.input, &data)) return 2;
  varnel_inspect::InspectResult result = varnel_inspect::InspectStream(data);
  if (options.summary) {
    fputs(varnel_inspect::FormatSummary(result).c_str(), stdout);
  } else {
    if (options.list || !options.quiet) fputs(varnel_inspect::FormatListing(result).c_str(), stdout);
    fputs(varnel_inspect::FormatDefects(result).c_str(), stdout);
  }
  if (!options.pagesDir.empty()) {
    mkdir(options.pagesDir.c_str(), 0755);
    std::string error;
    if (!varnel_inspect::WritePagePictures(options.pagesDir, result, &error)) {
      fprintf(stderr, "varnel-inspect: %s\n", error.c_str());
      return 2;
    }
  }
  if (fflush(stdout) != 0) return 2;
  return result.Clean() ? 0 : 1;
}
