// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Text forms of an inspection: the item listing, the defect lines and the one-line-per-item
// summary that scripts and tests parse.
#include <cstdio>

#include "inspect_internal.h"

namespace varnel_inspect {

namespace {

std::string FieldText(const FieldList& fields) {
  std::string text;
  for (const Field& f : fields) {
    if (f.name.compare(0, 3, "id:") == 0) continue;
    text += " " + f.name + "=" + std::to_string(f.value);
  }
  return text;
}

// Summary values are single words: spaces and unprintable bytes are written as %XX.
std::string Word(const std::string& text) {
  std::string out;
  for (unsigned char ch : text) {
    if (ch > 0x20 && ch < 0x7F && ch != '%') {
      out += static_cast<char>(ch);
    } else {
      char hex[4];
      snprintf(hex, sizeof hex, "%%%02X", ch);
      out += hex;
    }
  }
  return out.empty() ? "-" : out;
}

std::string Value(const FieldList& fields, const char* name) {
  return HasField(fields, name) ? std::to_string(FieldValue(fields, name)) : "-";
}

std::string PjlValue(const Document& document, const std::string& prefix) {
  for (const std::string& line : document.pjl) {
    if (line.compare(0, prefix.size(), prefix) == 0) return Word(line.substr(prefix.size()));
  }
  return "-";
}

// Lines of the page: decoded, or as its records announce them.
long long PageHeight(const Page& page) {
  if (page.decoded) return page.plane.height;
  return FieldValue(page.fields, "wholeRasterImageH", FieldValue(page.fields, "IMG_HEIGHT_PARAM", 0));
}

}  // namespace

std::string FormatListing(const InspectResult& result) {
  std::string out = std::string("platform ") + PlatformName(result.platform) + ", " +
                    std::to_string(result.streamBytes) + " bytes\n";
  char line[96];
  for (const Item& item : result.items) {
    snprintf(line, sizeof line, "%10zu %8zu  %-7s ", item.offset, item.length, ItemKindName(item.kind));
    out += line + item.name;
    if (!item.text.empty() && item.text != item.name) out += " \"" + item.text + "\"";
    out += FieldText(item.fields) + "\n";
  }
  return out;
}

std::string FormatDefects(const InspectResult& result) {
  std::string out;
  for (const Defect& d : result.defects) out += "DEFECT at offset " + std::to_string(d.offset) + ": " + d.what + "\n";
  return out;
}

std::string FormatSummary(const InspectResult& result) {
  const char* platform = PlatformName(result.platform);
  std::string out = std::string("stream platform=") + platform + " bytes=" + std::to_string(result.streamBytes) +
                    " items=" + std::to_string(result.items.size()) + " pages=" + std::to_string(result.pages.size()) +
                    "\n";
  const FieldList& doc = result.document.fields;
  out += std::string("job platform=") + platform;
  for (const char* name : {"jobID", "jobFlags", "fineMode", "tonerSave", "density", "tonerParamBytes",
                           "languageVersion", "year", "month", "day", "startDocParam0", "startDocParam1",
                           "startDocParam2"})
    out += std::string(" ") + name + "=" + Value(doc, name);
  out += " jobTime=" + PjlValue(result.document, "@PJL JOBTIME=");
  out += " jobOwner=" + PjlValue(result.document, "@PJL JOBOWNER=") + "\n";
  for (const Page& page : result.pages) {
    const FieldList& f = page.fields;
    out += std::string("page platform=") + platform + " index=" + std::to_string(page.index) +
           " offset=" + std::to_string(page.offset) + " pageNum=" + Value(f, "pageNum") +
           " paper=" + Value(f, "paperSize") + " copies=" + Value(f, "copies") +
           " media=" + Value(f, "mediaType") + " tray=" + Value(f, "tray") +
           " resX=" + Value(f, "resolutionX") + " resY=" + Value(f, "resolutionY") +
           " feedEdge=" + Value(f, "feedEdge") + " width=" + std::to_string(page.pixelWidth) +
           " height=" + std::to_string(PageHeight(page)) + " planeWidth=" + std::to_string(page.plane.width) +
           " bpp=" + std::to_string(page.bitsPerPixel) + " decoded=" + (page.decoded ? "1" : "0") + "\n";
  }
  for (const Defect& d : result.defects)
    out += "defect offset=" + std::to_string(d.offset) + " what=" + d.what + "\n";
  out += "result " + std::string(result.Clean() ? "clean" : "defective") +
         " defects=" + std::to_string(result.defects.size()) + "\n";
  return out;
}

}  // namespace varnel_inspect
