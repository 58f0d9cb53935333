// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Page size and media handling.
#include "page_size.h"

#include <cups/ppd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>
#include <vector>

#include "common.h"
#include "line_reader.h"
#include "options.h"
#include "pjl_text.h"

bool is_pdf_content_type();

namespace {

struct PpdCloser {
  void operator()(ppd_file_t* ppd) const { ppdClose(ppd); }
};
using PpdFile = std::unique_ptr<ppd_file_t, PpdCloser>;

PpdFile OpenJobPpd() {
  const char* path = getenv("PPD");
  return PpdFile(path != nullptr ? ppdOpenFile(path) : nullptr);
}

std::string JobOption(const char* options_text, const char* name) {
  cups_option_t* options = nullptr;
  int count = cupsParseOptions(options_text, 0, &options);
  const char* value = cupsGetOption(name, count, options);
  std::string result = value != nullptr ? value : "";
  cupsFreeOptions(count, options);
  return result;
}

std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> words;
  std::istringstream in(text);
  std::string word;
  while (in >> word) words.push_back(word);
  return words;
}

bool IsNumberWord(const std::string& word) {
  return !word.empty() && (isdigit(static_cast<unsigned char>(word[0])) || word[0] == '.');
}

struct Limits {
  float min_width = 211, max_width = 613, min_height = 418, max_height = 1010;
  bool Contain(float w, float h) const { return w >= min_width && w <= max_width && h >= min_height && h <= max_height; }
};

// The four numbers between "[" and "]" of a page dictionary line.
bool BracketBox(const std::string& line, float box[4]) {
  size_t open = line.find('['), close = line.find(']', open == std::string::npos ? 0 : open);
  if (open == std::string::npos || close == std::string::npos) return false;
  std::vector<std::string> words = Words(line.substr(open + 1, close - open - 1));
  if (words.size() < 4) return false;
  fprintf(stderr, "left:%s,top:%s,right:%s,bottom:%s\n", words[0].c_str(), words[1].c_str(), words[2].c_str(),
          words[3].c_str());
  for (int i = 0; i < 4; ++i) box[i] = static_cast<float>(atof(words[static_cast<size_t>(i)].c_str()));
  return true;
}

// Width and height of the first page statement of a PostScript file, 0 when none.
void DocumentPageSize(LineReader& reader, int* width_out, int* height_out) {
  std::string line;
  while (reader.Next(line)) {
    size_t at = FindNoCase(line, "<</Type/Page/MediaBox [0 0");
    if (at != std::string::npos) {
      std::vector<std::string> words = Words(line.substr(at + strlen("<</Type/Page/MediaBox [0 0")));
      if (words.size() >= 2) {
        *width_out = atoi(words[0].c_str());
        *height_out = atoi(words[1].c_str());
      }
      return;
    }
    at = line.find("pdfSetupPaper");
    if (at != std::string::npos && (at == 0 || line[at - 1] != '/')) {
      std::vector<std::string> words = Words(line.substr(0, at));
      if (words.size() >= 2) {
        *width_out = atoi(words[words.size() - 2].c_str());
        *height_out = atoi(words.back().c_str());
      }
      return;
    }
  }
}

bool FedLongEdge(const char* options_text) {
  std::string feed = JobOption(options_text, "FeedEdge");
  if (!feed.empty()) {
    fprintf(stderr, "FeedEdge=%s\n", feed.c_str());
    bool long_edge = ContainsNoCase(feed, "LongEdge");
    fputs(long_edge ? "LongEdge =true\n" : "LongEdge =false\n", stderr);
    return long_edge;
  }
  PpdFile ppd = OpenJobPpd();
  if (!ppd) return true;
  ppd_option_t* option = ppdFindOption(ppd.get(), "FeedEdge");
  if (option == nullptr) return true;
  return ContainsNoCase(option->defchoice, "LongEdge");
}

void ReplaceLine(std::string& line, const std::string& text) {
  line = text;
  fprintf(stderr, "%s\n", line.c_str());
}

}  // namespace

std::string FirstLineWith(const char* path, const char* needle) {
  LineReader reader(path);
  std::string line;
  while (reader.Next(line))
    if (ContainsNoCase(line, needle)) return line;
  return "";
}

int checkmediasize(char* argv[], const char*, int* width_out, int* height_out) {
  std::string size = JobOption(argv[5], "PageSize");
  if (size.empty()) return 0;
  PpdFile ppd = OpenJobPpd();
  if (!ppd) return 0;
  ppd_size_t* found = ppdPageSize(ppd.get(), size.c_str());
  if (found != nullptr) {
    *width_out = static_cast<int>(found->width);
    *height_out = static_cast<int>(found->length);
    fprintf(stderr, "pagesize:%s width:%d,heigh:%d\n", size.c_str(), *width_out, *height_out);
  }
  return 1;
}

int Getmediasize(const char* path, float* llx, float* lly, float* urx, float* ury) {
  if (!is_pdf_content_type()) return 0;
  LineReader reader(path);
  if (!reader.IsOpen()) return 0;
  std::string line;
  while (reader.Next(line)) {
    size_t at = FindNoCase(line, "MediaBox [");
    if (at == std::string::npos) continue;
    std::string rest = line.substr(at + strlen("MediaBox ["));
    for (char& c : rest)
      if (c == ']') c = ' ';
    std::vector<std::string> numbers;
    for (const std::string& word : Words(rest))
      if (IsNumberWord(word) && numbers.size() < 4) numbers.push_back(word);
    if (numbers.size() < 4) return 1;
    fprintf(stderr, "left:%s,top:%s,right:%s,bottom:%s\n", numbers[0].c_str(), numbers[1].c_str(),
            numbers[2].c_str(), numbers[3].c_str());
    float v[4];
    for (int i = 0; i < 4; ++i) v[i] = static_cast<float>(atof(numbers[static_cast<size_t>(i)].c_str()));
    bool rotated = line.find(">> /Rotate 270") != std::string::npos;
    *llx = rotated ? v[1] : v[0];
    *lly = rotated ? v[0] : v[1];
    *urx = rotated ? v[3] : v[2];
    *ury = rotated ? v[2] : v[3];
    return 1;
  }
  return 1;
}

bool isSupportCustomPageSize(const char* options_text, const char* path) {
  PpdFile ppd = OpenJobPpd();
  if (!ppd) return false;
  Limits limits;
  ppd_size_t minimum, maximum;
  if (ppdPageSizeLimits(ppd.get(), &minimum, &maximum)) {
    limits.min_width = minimum.width;
    limits.min_height = minimum.length;
    limits.max_width = maximum.width;
    limits.max_height = maximum.length;
  }
  std::string size = JobOption(options_text, "PageSize");
  if (!size.empty()) {
    fprintf(stderr, "PageSize:%s\n", size.c_str());
  } else {
    size = JobOption(options_text, "media");
    fprintf(stderr, "isSupportCustomPageSize media=%s\n", size.c_str());
  }
  if (!ContainsNoCase(size, "Custom")) return true;
  if (is_pdf_content_type()) {
    float llx = 0, lly = 0, urx = 0, ury = 0;
    Getmediasize(path, &llx, &lly, &urx, &ury);
    return std::fabs(urx - llx) > 1e-5f && std::fabs(ury - lly) > 1e-5f;
  }
  float box[4];
  if (BracketBox(FirstLineWith(path, "<</Type/Page/MediaBox"), box) &&
      !limits.Contain(box[2] - box[0], box[3] - box[1]))
    return false;
  std::string setup = FirstLineWith(path, " pdfSetupPaper");
  if (!setup.empty()) {
    std::vector<std::string> numbers;
    for (const std::string& word : Words(setup))
      if (IsNumberWord(word)) numbers.push_back(word);
    if (numbers.size() >= 2) {
      fprintf(stderr, "pdfsetuppaper:width;%s,height:%s\n", numbers[0].c_str(), numbers[1].c_str());
      if (!limits.Contain(static_cast<float>(atof(numbers[0].c_str())), static_cast<float>(atof(numbers[1].c_str()))))
        return false;
    }
  }
  return true;
}

bool isA5PageSize(const char* options_text, const char* path) {
  std::string size = JobOption(options_text, "PageSize");
  bool a5 = false;
  if (!size.empty()) {
    a5 = ContainsNoCase(size, "A5");
  } else {
    LineReader reader(path);
    if (!reader.IsOpen()) {
      fprintf(stderr, "%s open file %s failed!,code:%d\n", "isA5PageSize", path, errno);
      return false;
    }
    int w = 0, h = 0;
    DocumentPageSize(reader, &w, &h);
    a5 = std::abs(w - 420) <= 2 && std::abs(h - 595) <= 2;
  }
  return a5 && FedLongEdge(options_text);
}

int FixPrnPageSize(std::string& line, int width, int height, unsigned char* state) {
  bool have_size = width != 0 && height != 0;
  if (ContainsNoCase(line, "<</Type/Page/MediaBox [0 0")) {
    if (!have_size) return 0;
    ReplaceLine(line, "<</Type/Page/MediaBox [0 0 " + std::to_string(width) + " " + std::to_string(height) + "]\n");
    return 1;
  }
  if (line.find("/pdfSetupPaper") != std::string::npos) return 0;
  if (line.find("pdfSetupPaper") != std::string::npos) {
    if (!have_size) return 0;
    ReplaceLine(line, std::to_string(width) + " " + std::to_string(height) + " pdfSetupPaper\n");
    return 1;
  }
  if (iscollate) {
    if (line.find("%RBIBeginNonPPDFeature: *NumCopies") != std::string::npos) {
      *state = 1;
      line.clear();
      return 1;
    }
    if (line.find("%RBIEndNonPPDFeature") != std::string::npos) {
      *state = 0;
      line.clear();
      return 1;
    }
    if (*state == 1) {
      line.clear();
      return 1;
    }
  }
  size_t at = line.find("<<DeferredMediaSelection");
  if (at != std::string::npos && line.find(">>setpagedevice") != std::string::npos) {
    line.replace(at, strlen("<<DeferredMediaSelection"), "<</DeferredMediaSelection");
    fputs("Modified <</DeferredMediaSelection\n", stderr);
    return 1;
  }
  return 0;
}
