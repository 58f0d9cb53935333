// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Build-time generator of the Printer Application's model table. It reads the PPD files that
// ppdc compiles from ppd/varnel.drv, keeps the raster models (those whose filter is
// rastertoVarnel) and writes one C++ initializer per model, with the values the raster filter
// itself would take from that PPD: model name, platform, manual-duplex support, the turn-over
// text, custom-size margins, which print functions the PPD offers and their defaults.
//
//   model_table_gen OUTPUT.inc PPD...
//
// A model is therefore added in one place, the PPD compiler source.
#include <cups/ppd.h>
#include <cups/raster.h>
#include <strings.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cupsdll.h"
#include "paper_tables.h"
#include "print_options.h"
#include "prnt.h"

namespace {

std::string Quote(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c >= 0x7f) {
      char octal[8];
      snprintf(octal, sizeof octal, "\\%03o", c);
      out += octal;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string Reason(ppd_file_t* ppd, const char* keyword) {
  char text[1024] = "";
  if (ppdLocalizeIPPReason(ppd, keyword, nullptr, text, sizeof text) == nullptr) return "";
  return text;
}

// The raster models are the PPDs whose filter is rastertoVarnel.
bool IsRasterModel(ppd_file_t* ppd) {
  for (int i = 0; i < ppd->num_filters; ++i)
    if (strstr(ppd->filters[i], "rastertoVarnel") != nullptr) return true;
  return false;
}

// The platform as the raster filter chooses it: the built-in model list first, then the
// PPD's "PlatForm" text.
int Platform(ppd_file_t* ppd) {
  int platform = PLATFORM_UNKNOWN;
  GetPaperSizeArray(ppd->modelname, &platform);
  if (platform != PLATFORM_UNKNOWN) return platform;
  return GetPlatformFromText(Reason(ppd, "PlatForm").c_str());
}

// Driver names are the PCFileName without its extension, in PAPPL's alphabet.
std::string DriverName(ppd_file_t* ppd) {
  std::string name = ppd->pcfilename != nullptr ? ppd->pcfilename : "";
  size_t dot = name.rfind('.');
  if (dot != std::string::npos) name.erase(dot);
  std::string out;
  for (char c : name) {
    c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    out += (isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_') ? c : '_';
  }
  return out;
}

// "Maker Model" as ppdc builds the NickName, without its ", version" tail.
std::string MakeAndModel(ppd_file_t* ppd) {
  std::string nick = ppd->nickname != nullptr ? ppd->nickname : "";
  ppd_attr_t* version = ppdFindAttr(ppd, "FileVersion", nullptr);
  if (version != nullptr && version->value != nullptr) {
    std::string tail = std::string(", ") + version->value;
    if (nick.size() > tail.size() && nick.compare(nick.size() - tail.size(), tail.size(), tail) == 0)
      nick.erase(nick.size() - tail.size());
  }
  return nick;
}

// Whether the 1200-dpi mode makes the CUPS chain deliver 1200-dpi rasters to the filter.
bool Raster1200(ppd_file_t* ppd) {
  if (ppdFindOption(ppd, "DPI1200") == nullptr) return false;
  ppdMarkDefaults(ppd);
  ppdMarkOption(ppd, "DPI1200", "True");
  cups_page_header2_t header;
  memset(&header, 0, sizeof header);
  bool result = cupsRasterInterpretPPD(&header, ppd, 0, nullptr, nullptr) == 0 && header.HWResolution[0] == 1200;
  ppdMarkDefaults(ppd);
  return result;
}

// The print functions as the filter fills them from the PPD's default choices, and which of
// them the PPD offers as options.
void FunctionDefaults(ppd_file_t* ppd, int values[PRINT_FUNC_COUNT], unsigned* offered) {
  PRINT_FUNC_INFO funcs[PRINT_FUNC_COUNT];
  InitPrintFuncInfo(funcs);
  ppdMarkDefaults(ppd);
  int num = 0;
  cups_option_t* options = nullptr;
  *offered = 0;
  for (int i = 0; i < PRINT_FUNC_COUNT; ++i) {
    ppd_choice_t* choice = ppdFindMarkedChoice(ppd, funcs[i].name);
    if (ppdFindOption(ppd, funcs[i].name) != nullptr) *offered |= 1u << i;
    if (choice != nullptr) num = cupsAddOption(funcs[i].name, choice->choice, num, &options);
  }
  cups_page_header2_t header;
  memset(&header, 0, sizeof header);
  GetFunctionValue(funcs, num, options, &header);
  cupsFreeOptions(num, options);
  for (int i = 0; i < PRINT_FUNC_COUNT; ++i) values[i] = funcs[i].value;
}

// The choices of an option, comma-separated.
std::string Choices(ppd_file_t* ppd, const char* keyword) {
  ppd_option_t* option = ppdFindOption(ppd, keyword);
  std::string out;
  for (int i = 0; option != nullptr && i < option->num_choices; ++i) {
    if (!out.empty()) out += ',';
    out += option->choices[i].choice;
  }
  return out;
}

bool WriteModel(FILE* out, const char* path, ppd_file_t* ppd) {
  int platform = Platform(ppd);
  if (platform == PLATFORM_UNKNOWN) {
    fprintf(stderr, "model_table_gen: %s: no platform for the raster model \"%s\"\n", path, ppd->modelname);
    return false;
  }
  ppd_attr_t* deviceId = ppdFindAttr(ppd, "1284DeviceID", nullptr);
  if (deviceId == nullptr || deviceId->value == nullptr || ppd->pcfilename == nullptr) {
    fprintf(stderr, "model_table_gen: %s: the raster model \"%s\" has no 1284DeviceID or PCFileName\n", path,
            ppd->modelname);
    return false;
  }
  int values[PRINT_FUNC_COUNT];
  unsigned offered = 0;
  FunctionDefaults(ppd, values, &offered);
  ppdMarkDefaults(ppd);
  ppd_size_t* size = ppdPageSize(ppd, nullptr);

  std::string values_text;
  for (int i = 0; i < PRINT_FUNC_COUNT; ++i) values_text += (i ? ", " : "") + std::to_string(values[i]);
  fprintf(out, "{%s, %s, %s, %s,\n", Quote(DriverName(ppd)).c_str(), Quote(MakeAndModel(ppd)).c_str(),
          Quote(ppd->modelname).c_str(), Quote(deviceId->value).c_str());
  fprintf(out, " %d, %d, %d, %s,\n", platform, !strcasecmp(Reason(ppd, "SupportManualDuplex").c_str(), "TRUE") ? 1 : 0,
          Raster1200(ppd) ? 1 : 0, Quote(Reason(ppd, "MDuplex")).c_str());
  fprintf(out, " {%g, %g, %g, %g}, 0x%04x, {%s},\n", ppd->custom_margins[0], ppd->custom_margins[1],
          ppd->custom_margins[2], ppd->custom_margins[3], offered, values_text.c_str());
  fprintf(out, " %s, %s, %d, %d},\n", Quote(Choices(ppd, "InputSlot")).c_str(), Quote(Choices(ppd, "Density")).c_str(),
          size != nullptr ? static_cast<int>(lround(size->width)) : 0,
          size != nullptr ? static_cast<int>(lround(size->length)) : 0);
  return true;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc < 3) {
    fputs("usage: model_table_gen OUTPUT.inc PPD...\n", stderr);
    return 2;
  }
  // GetFunctionValue reads options through the filter's bound CUPS functions.
  InitCUPSDLL();
  InitCUPSIMAGEDLL();
  std::string temp = std::string(argv[1]) + ".tmp";
  FILE* out = fopen(temp.c_str(), "w");
  if (out == nullptr) {
    perror(temp.c_str());
    return 1;
  }
  fputs("// Generated at build time by model_table_gen from the PPDs of ppd/varnel.drv. Do not edit.\n", out);
  bool ok = true;
  int models = 0;
  for (int i = 2; i < argc && ok; ++i) {
    ppd_file_t* ppd = ppdOpenFile(argv[i]);
    if (ppd == nullptr) {
      fprintf(stderr, "model_table_gen: cannot read %s: %s\n", argv[i], ppdErrorString(ppdLastError(nullptr)));
      ok = false;
      break;
    }
    if (IsRasterModel(ppd)) {
      ok = WriteModel(out, argv[i], ppd);
      ++models;
    }
    ppdClose(ppd);
  }
  if (ok && models == 0) {
    fputs("model_table_gen: no raster model among the PPDs\n", stderr);
    ok = false;
  }
  if (fclose(out) != 0) {
    perror(temp.c_str());
    ok = false;
  }
  if (ok && rename(temp.c_str(), argv[1]) != 0) {
    perror(argv[1]);
    ok = false;
  }
  if (!ok) remove(temp.c_str());
  return ok ? 0 : 1;
}
