// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
#include "app_fixtures.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <memory>

#include "media.h"
#include "models.h"

namespace varnel_test {
namespace {

struct RasterClose {
  void operator()(cups_raster_t* r) const { cupsRasterClose(r); }
};
using Raster = std::unique_ptr<cups_raster_t, RasterClose>;

void Fill(RasterPage* page, unsigned x0, unsigned y0, unsigned x1, unsigned y1, uint8_t value) {
  const cups_page_header2_t& h = page->header;
  for (unsigned y = y0; y < y1 && y < h.cupsHeight; ++y)
    for (unsigned x = x0; x < x1 && x < h.cupsWidth; ++x) page->pixels[y * h.cupsBytesPerLine + x] = value;
}

bool IsTimeItem(const varnel_inspect::Item& item) {
  return item.name == "cmdSysTime" || item.name == "@PJL JOBTIME=";
}

// The items of a stream without its filler pairs: a keep-alive pair may fall between any two
// records of a slow job (the inspector checks that it falls nowhere else).
std::vector<varnel_inspect::Item> Records(const varnel_inspect::InspectResult& result) {
  std::vector<varnel_inspect::Item> items;
  for (const varnel_inspect::Item& item : result.items)
    if (item.kind != varnel_inspect::ItemKind::Filler) items.push_back(item);
  return items;
}

}  // namespace

RasterPage PatternPage(const char* pwg_size, unsigned dpi, int page_number, const char* type) {
  RasterPage page;
  memset(&page.header, 0, sizeof page.header);
  cupsRasterInitPWGHeader(&page.header, pwgMediaForPWG(pwg_size), type, static_cast<int>(dpi), static_cast<int>(dpi),
                          "one-sided", "normal");
  const cups_page_header2_t& h = page.header;
  page.pixels.assign(static_cast<size_t>(h.cupsBytesPerLine) * h.cupsHeight, 255);
  unsigned w = h.cupsWidth, ht = h.cupsHeight, unit = dpi / 12;  // a twelfth of an inch
  Fill(&page, 0, 0, w, unit, 0);                                // frame
  Fill(&page, 0, ht - unit, w, ht, 0);
  Fill(&page, 0, 0, unit, ht, 0);
  Fill(&page, w - unit, 0, w, ht, 0);
  unsigned bar = unit * (4 + 3 * static_cast<unsigned>(page_number));  // where the bar is tells the page
  Fill(&page, 4 * unit, bar, w / 2, bar + 2 * unit, 0);
  for (unsigned y = ht / 3; y < ht / 3 + 10 * unit && y < ht; ++y)  // grey ramp, left to right
    for (unsigned x = unit; x < w - unit; ++x) page.pixels[y * h.cupsBytesPerLine + x] = static_cast<uint8_t>(x * 255 / w);
  for (unsigned i = 0; i < 12; ++i)  // lines of "text"
    Fill(&page, 6 * unit, ht / 2 + i * 2 * unit, 6 * unit + (i % 5 + 3) * 5 * unit, ht / 2 + i * 2 * unit + unit / 2, 30);
  if (std::string(type).compare(0, 5, "black") == 0)
    for (uint8_t& v : page.pixels) v = static_cast<uint8_t>(255 - v);  // black levels: 0 is white
  return page;
}

void WritePwgRaster(const std::string& path, const std::vector<RasterPage>& pages) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  Raster raster(cupsRasterOpen(fd, CUPS_RASTER_WRITE_PWG));
  for (const RasterPage& page : pages) {
    cups_page_header2_t header = page.header;
    cupsRasterWriteHeader2(raster.get(), &header);
    cupsRasterWritePixels(raster.get(), const_cast<unsigned char*>(page.pixels.data()),
                          static_cast<unsigned>(page.pixels.size()));
  }
  raster.reset();
  close(fd);
}

bool HalfBlackImage(const std::string& path, const char* device, int dpi) {
  ProcessResult made = RunProgram("/usr/bin/gs", {"-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", std::string("-sDEVICE=") + device,
                                                  "-dJPEGQ=100", "-r" + std::to_string(dpi), "-dDEVICEWIDTHPOINTS=595",
                                                  "-dDEVICEHEIGHTPOINTS=842", "-dFIXEDMEDIA", "-sOutputFile=" + path,
                                                  "-c", "0 0 297.5 842 rectfill showpage"});
  return made.exit_status == 0;
}

bool WriteQueueRaster(const std::string& in, const std::string& out, const QueueJob& job) {
  const VARNEL_MODEL* model = FindModel(job.driver.c_str());
  if (model == nullptr) return false;
  const PAPER_SIZE_INFO* table = ModelPaperTable(model);
  int in_fd = open(in.c_str(), O_RDONLY);
  int out_fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  bool ok = in_fd >= 0 && out_fd >= 0;
  {
    Raster reader(ok ? cupsRasterOpen(in_fd, CUPS_RASTER_READ) : nullptr);
    Raster writer(ok ? cupsRasterOpen(out_fd, CUPS_RASTER_WRITE) : nullptr);
    cups_page_header2_t header;
    while (ok && reader && writer && cupsRasterReadHeader2(reader.get(), &header)) {
      bool black = header.cupsColorSpace == CUPS_CSPACE_K;
      int row = FindPaperRow(table, header.PageSize[0], header.PageSize[1]);
      cups_page_header2_t changed = header;
      if (black) changed.cupsColorSpace = CUPS_CSPACE_SW;
      if (row >= 0) {
        changed.PageSize[0] = static_cast<unsigned>(table[row].cupsPaperW);
        changed.PageSize[1] = static_cast<unsigned>(table[row].cupsPaperH);
      }
      changed.NumCopies = job.copies;
      changed.cupsMediaType = 0;
      changed.Duplex = job.sides != "one-sided" ? CUPS_TRUE : CUPS_FALSE;
      changed.Tumble = job.sides == "two-sided-short-edge" ? CUPS_TRUE : CUPS_FALSE;
      ok = cupsRasterWriteHeader2(writer.get(), &changed) != 0;
      std::vector<unsigned char> line(header.cupsBytesPerLine);
      for (unsigned y = 0; ok && y < header.cupsHeight; ++y) {
        ok = cupsRasterReadPixels(reader.get(), line.data(), header.cupsBytesPerLine) == header.cupsBytesPerLine;
        if (black)
          for (unsigned char& v : line) v = static_cast<unsigned char>(255 - v);
        ok = ok && cupsRasterWritePixels(writer.get(), line.data(), header.cupsBytesPerLine) == header.cupsBytesPerLine;
      }
    }
  }
  if (in_fd >= 0) close(in_fd);
  if (out_fd >= 0) close(out_fd);
  return ok;
}

std::vector<uint8_t> FilterStream(const std::string& raster, const QueueJob& job, std::string* log) {
  std::string duplex = job.sides == "two-sided-long-edge"    ? "DuplexNoTumble"
                       : job.sides == "two-sided-short-edge" ? "DuplexTumble"
                                                              : "None";
  std::string options = "Duplex=" + duplex + " Density=" + std::to_string(job.density) + " Collate=True";
  if (job.dpi1200) options += " DPI1200=True";
  RunOptions run;
  run.env = {std::string("PPD=") + VARNEL_PPD_DIR + "/" + job.driver + ".ppd"};
  ProcessResult filtered = RunProgram(BuildPath("gdi_filter/rastertoVarnel"),
                                      {std::to_string(job.job_id), "tester", job.title, std::to_string(job.copies),
                                       options, raster},
                                      run);
  if (filtered.exit_status != 0) {
    *log = filtered.err;
    return {};
  }
  return Bytes(filtered.out);
}

std::string StreamDifference(const std::vector<uint8_t>& app, const std::vector<uint8_t>& reference) {
  varnel_inspect::InspectResult a = varnel_inspect::InspectStream(app);
  varnel_inspect::InspectResult b = varnel_inspect::InspectStream(reference);
  if (!a.Clean()) return "the application's stream has defects:\n" + varnel_inspect::FormatDefects(a);
  if (!b.Clean()) return "the reference stream has defects:\n" + varnel_inspect::FormatDefects(b);
  if (a.items.empty()) return "the application's stream is empty";
  std::vector<varnel_inspect::Item> ra = Records(a), rb = Records(b);
  for (size_t i = 0; i < ra.size() && i < rb.size(); ++i) {
    const varnel_inspect::Item& x = ra[i];
    const varnel_inspect::Item& y = rb[i];
    std::string where = "item " + std::to_string(i) + " (" + x.name + " at " + std::to_string(x.offset) + ", reference " +
                        y.name + " at " + std::to_string(y.offset) + ")";
    if (x.kind != y.kind || x.name != y.name || x.length != y.length) return where + " differs in kind, name or length";
    if (IsTimeItem(x)) continue;
    if (memcmp(app.data() + x.offset, reference.data() + y.offset, x.length) != 0) return where + " differs in its bytes";
  }
  if (ra.size() != rb.size())
    return "the streams have " + std::to_string(ra.size()) + " and " + std::to_string(rb.size()) + " records";
  return "";
}

double InkShare(const varnel_inspect::Bitmap& plane, unsigned from, unsigned to) {
  unsigned long black = 0, all = 0;
  for (unsigned y = 0; y < plane.height; ++y)
    for (unsigned x = from; x < to && x < plane.width; ++x) {
      black += plane.Bit(x, y);
      ++all;
    }
  return all == 0 ? 0.0 : static_cast<double>(black) / static_cast<double>(all);
}

std::vector<uint8_t> Bytes(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

}  // namespace varnel_test
