// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
#include "cups_support.h"

#include <cups/raster.h>
#include <dirent.h>
#include <fcntl.h>
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>

namespace varnel_test {

std::string PpdPath(const std::string& file) {
  if (!file.empty() && file[0] == '/') return file;
  return std::string(VARNEL_PPD_DIR) + (file.empty() ? "" : "/" + file);
}

std::string SafeTestName(const std::string& text) {
  std::string name;
  for (char c : text)
    if (isalnum(static_cast<unsigned char>(c))) name.push_back(c);
  return name;
}

CupsfilterChain::CupsfilterChain() : CupsfilterChain("") {}

CupsfilterChain::CupsfilterChain(const std::string& driver_filters) {
  std::string filters = dir_.path() + "/lib/filter";
  mkdir((dir_.path() + "/lib").c_str(), 0755);
  mkdir(filters.c_str(), 0755);
  LinkStockFilters(filters);
  CopyProgram(driver_filters.empty() ? BuildPath("gdi_filter/rastertoVarnel") : driver_filters + "/rastertoVarnel",
              filters + "/rastertoVarnel");
  CopyProgram(driver_filters.empty() ? BuildPath("ps_filter/pstoVarnel") : driver_filters + "/pstoVarnel",
              filters + "/pstoVarnel");
  WriteFile(dir_.File("cups-files.conf"), "ServerBin " + dir_.path() + "/lib\n");
}

std::vector<std::string> CupsfilterChain::Arguments(const ChainJob& job) const {
  // -e: the PPD's own cupsFilter lines decide the last step of the chain.
  std::vector<std::string> args = {"-c", dir_.File("cups-files.conf"), "-p", PpdPath(job.ppd), "-e",
                                   "-m", job.stop_at.empty() ? "printer/varnel" : job.stop_at,
                                   "-U", job.user, "-t", job.title, "-n", std::to_string(job.copies)};
  for (const auto& option : job.options) {
    args.push_back("-o");
    args.push_back(option);
  }
  args.push_back(job.input);
  return args;
}

ProcessResult CupsfilterChain::Run(const ChainJob& job) const {
  RunOptions options;
  options.timeout_ms = 240000;
  options.unset_env = {"CUPS_SERVER"};
  options.env = job.env;
  return RunProgram("/usr/sbin/cupsfilter", Arguments(job), options);
}

ProcessResult CupsfilterChain::ListFilters(const ChainJob& job) const {
  std::vector<std::string> args = Arguments(job);
  args.insert(args.end() - 1, "--list-filters");
  return RunProgram("/usr/sbin/cupsfilter", args);
}

namespace {

void CollectFiles(const std::string& folder, const std::string& relative, std::vector<std::string>* found) {
  DIR* dir = opendir((folder + relative).c_str());
  if (dir == nullptr) return;
  while (dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    std::string path = relative + "/" + name;
    struct stat st;
    if (lstat((folder + path).c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode))
      CollectFiles(folder, path, found);
    else
      found->push_back(path.substr(1));
  }
  closedir(dir);
}

}  // namespace

std::vector<std::string> FilesUnder(const std::string& folder) {
  std::vector<std::string> found;
  CollectFiles(folder, "", &found);
  std::sort(found.begin(), found.end());
  return found;
}

std::string MakeTestPdf(const TempDir& dir, int pages) {
  std::string ps =
      "%!PS-Adobe-3.0\n"
      "<< /PageSize [595 842] >> setpagedevice\n"
      "/Helvetica findfont 36 scalefont setfont\n"
      "/page { /n exch def\n"
      "  0 setgray 72 700 n 1 sub 5 mod 1 add 90 mul 40 rectfill\n"
      "  0.5 setgray 72 100 n 1 sub 5 mod 1 add 60 mul add 150 150 rectfill\n"
      "  0 setgray 300 400 moveto (Page ) show n 3 string cvs show\n"
      "  showpage } def\n";
  for (int n = 1; n <= pages; ++n) ps += std::to_string(n) + " page\n";
  std::string source = dir.File("document.ps"), pdf = dir.File("document.pdf");
  WriteFile(source, ps);
  ProcessResult made = RunProgram("/usr/bin/gs", {"-q", "-dNOPAUSE", "-dBATCH", "-dSAFER", "-sDEVICE=pdfwrite",
                                                  "-sOutputFile=" + pdf, source});
  return made.exit_status == 0 ? pdf : "";
}

}  // namespace varnel_test

namespace varnel_test {
namespace {

class InkCounter {
 public:
  void Add(unsigned x, unsigned y, double darkness) {
    ink_ += darkness;
    sum_x_ += darkness * x;
    sum_y_ += darkness * y;
  }
  PageInk Result(unsigned width, unsigned height) const {
    PageInk page;
    page.width = width;
    page.height = height;
    page.ink = ink_;
    if (ink_ > 0 && width > 0 && height > 0) {
      page.centre_x = sum_x_ / ink_ / width;
      page.centre_y = sum_y_ / ink_ / height;
    }
    return page;
  }

 private:
  double ink_ = 0, sum_x_ = 0, sum_y_ = 0;
};

}  // namespace

std::vector<PageInk> RasterInk(const std::string& path) {
  std::vector<PageInk> pages;
  int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) return pages;
  cups_raster_t* raster = cupsRasterOpen(fd, CUPS_RASTER_READ);
  cups_page_header2_t header;
  while (raster && cupsRasterReadHeader2(raster, &header)) {
    std::vector<unsigned char> line(header.cupsBytesPerLine);
    InkCounter counter;
    for (unsigned y = 0; y < header.cupsHeight; ++y) {
      if (cupsRasterReadPixels(raster, line.data(), header.cupsBytesPerLine) == 0) break;
      for (unsigned x = 0; x < header.cupsWidth && x < line.size(); ++x)
        if (line[x] != 255) counter.Add(x, y, (255 - line[x]) / 255.0);
    }
    PageInk page = counter.Result(header.cupsWidth, header.cupsHeight);
    page.copies = header.NumCopies;
    pages.push_back(page);
  }
  if (raster) cupsRasterClose(raster);
  close(fd);
  return pages;
}

bool PngInk(const std::string& path, PageInk* page) {
  png_image image;
  memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
  image.format = PNG_FORMAT_GRAY;
  std::vector<png_byte> pixels(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) return false;
  InkCounter counter;
  for (unsigned y = 0; y < image.height; ++y)
    for (unsigned x = 0; x < image.width; ++x) {
      png_byte value = pixels[static_cast<size_t>(y) * image.width + x];
      if (value != 255) counter.Add(x, y, (255 - value) / 255.0);
    }
  *page = counter.Result(image.width, image.height);
  return true;
}

}  // namespace varnel_test
