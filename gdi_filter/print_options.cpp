// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// The job's thirteen print functions, filled from the page header, the job options and (on the
// Z platform) the PPD's defaults.
#include "print_options.h"

#include <strings.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cupsdll.h"

const PRINT_FUNC_INFO gDefaultPrintFuncInfo[PRINT_FUNC_COUNT] = {
    {"Duplex", 0},        {"Sides", 0},         {"ManualDuplex", 0}, {"Density", 2},
    {"TonerMode", 0},     {"FeedLongEdge", 0},  {"outputorder", 0},  {"DPI1200", 0},
    {"NegativePrint", 0}, {"InputSlot", 0},     {"ImageRotation", 0}, {"Collate", 0},
    {"FineMode", 0},
};

void InitPrintFuncInfo(PPRINT_FUNC_INFO pPrntFuncInfo) {
  for (int i = 0; i < PRINT_FUNC_COUNT; ++i) pPrntFuncInfo[i] = gDefaultPrintFuncInfo[i];
}

namespace {

int DuplexValue(const char* value) {
  if (!strcasecmp(value, "DuplexNoTumble") || !strcasecmp(value, "two-sided-long-edge")) return 1;
  if (!strcasecmp(value, "DuplexTumble") || !strcasecmp(value, "two-sided-short-edge")) return 2;
  return 0;
}

int InputSlotValue(const char* value) {
  if (!strcasecmp(value, "ManualFeed")) return 1;
  if (!strcasecmp(value, "AutoFeed")) return 2;
  return 0;  // "Auto" and any unknown slot
}

// A choice of the Density option: a whole number from kDensityLightest to kDensityDarkest.
// Anything else is none (the printer would take its low byte: -5 prints as 251).
bool IsDensityChoice(const char* text) {
  char* end = nullptr;
  errno = 0;
  long level = isdigit(static_cast<unsigned char>(text[0])) ? strtol(text, &end, 10) : -1;
  return end != nullptr && *end == '\0' && errno == 0 && level >= kDensityLightest && level <= kDensityDarkest;
}

// Like any unknown choice, a Density that is none is ignored: "DEBUG: Density=<text> is not one
// of 0 to 4: <outcome>". The text comes from the job: it is shown shortened and without bytes
// that could end the log line.
void LogIgnoredDensity(const char* text, const std::string& outcome) {
  char shown[33];
  size_t n = 0;
  for (; text[n] != '\0' && n < sizeof shown - 1; ++n) {
    unsigned char byte = static_cast<unsigned char>(text[n]);
    shown[n] = byte < 0x20 || byte == 0x7f ? '?' : text[n];
  }
  shown[n] = '\0';
  fprintf(stderr, "DEBUG: Density=%s%s is not one of %d to %d: %s\n", shown, text[n] != '\0' ? "..." : "",
          kDensityLightest, kDensityDarkest, outcome.c_str());
}

int HeaderDuplex(const cups_page_header2_t* header) {
  if (RawEnum(header->Duplex) != 1) return 0;
  if (RawEnum(header->Tumble) == 0) return 1;
  if (RawEnum(header->Tumble) == 1) return 2;
  return 0;
}

bool Mentions(const char* argv5, const char* key) {
  std::string negated = std::string("no") + key;
  return strstr(argv5, negated.c_str()) != nullptr || strstr(argv5, key) != nullptr;
}

void AppendInputSlotDefault(std::string& parameters, ppd_file_t* ppd) {
  ppdMarkDefaults(ppd);
  ppd_choice_t* choice = ppdFindMarkedChoice(ppd, "InputSlot");
  if (choice == nullptr || choice->option == nullptr) {
    fputs("No find InputSlot option\n", stderr);
    return;
  }
  std::string addition = std::string(" ") + choice->option->keyword + "=" + choice->choice;
  fprintf(stderr, "DEBUG: %s\n", addition.c_str());
  parameters += addition;
}

// A boolean PPD option whose default is True becomes the bare word " keyword".
void AppendBooleanDefault(std::string& parameters, ppd_file_t* ppd, const char* keyword) {
  ppd_option_t* option = ppdFindOption(ppd, keyword);
  if (option == nullptr) {
    fprintf(stderr, "No find %s option\n", keyword);
    return;
  }
  if (!strcasecmp(option->defchoice, "True")) parameters += std::string(" ") + keyword;
}

// true when it appended the default.
bool AppendDensityDefault(std::string& parameters, ppd_file_t* ppd) {
  ppd_option_t* option = ppdFindOption(ppd, "Density");
  if (option == nullptr) {
    fputs("No find Density option\n", stderr);
    return false;
  }
  long level = strtol(option->defchoice, nullptr, 10);
  if (level != 0 && level != 2 && level != 4) return false;
  parameters += " Density=" + std::to_string(level);
  return true;
}

// true when argv5 gives a Density value that is no choice; *value is then that value.
bool GivesDensityThatIsNoChoice(const char* argv5, std::string* value) {
  cups_option_t* options = nullptr;
  int count = pfcupsParseOptions(argv5, 0, &options);
  const char* given = pfcupsGetOption("Density", count, options);
  bool none = given != nullptr && !IsDensityChoice(given);
  if (none) *value = given;
  cupsFreeOptions(count, options);
  return none;
}

}  // namespace

void GetFunctionValue(PPRINT_FUNC_INFO pPrntFuncInfo, int num_option, cups_option_t* options,
                      cups_page_header2_t* header) {
  pPrntFuncInfo[AUTODUPLEX].value = HeaderDuplex(header);
  fprintf(stderr, "DEBUG: ##Duplex = %d\n", pPrntFuncInfo[AUTODUPLEX].value);
  for (int slot = 0; slot < PRINT_FUNC_COUNT; ++slot) {
    const char* value = pfcupsGetOption(pPrntFuncInfo[slot].name, num_option, options);
    if (value == nullptr) continue;
    switch (slot) {
      case AUTODUPLEX:
      case AUTODUPLONGEDGE:
        pPrntFuncInfo[slot].value = DuplexValue(value);
        break;
      case DENSITY:
        if (IsDensityChoice(value))
          pPrntFuncInfo[slot].value = static_cast<int>(strtol(value, nullptr, 10));
        else
          LogIgnoredDensity(value, "the density stays " + std::to_string(pPrntFuncInfo[slot].value));
        break;
      case INPUTSLOT:
        pPrntFuncInfo[slot].value = InputSlotValue(value);
        break;
      default:
        if (!strcasecmp(value, "true")) pPrntFuncInfo[slot].value = 1;
        break;
    }
  }
}

void checkOptionKey(std::string& parameters, const char* argv5, ppd_file_t* ppd) {
  if (ppd == nullptr || argv5 == nullptr) return;
  if (!Mentions(argv5, "InputSlot")) AppendInputSlotDefault(parameters, ppd);
  for (const char* keyword : {"FeedLongEdge", "TonerMode", "ImageRotation", "NegativePrint"})
    if (!Mentions(argv5, keyword)) AppendBooleanDefault(parameters, ppd, keyword);
  if (!Mentions(argv5, "Density")) {
    AppendDensityDefault(parameters, ppd);
  } else {
    // A Density that is no choice counts as none given: the PPD's default, appended, wins.
    std::string value;
    if (GivesDensityThatIsNoChoice(argv5, &value) && AppendDensityDefault(parameters, ppd))
      LogIgnoredDensity(value.c_str(), "the PPD's default is used");
  }
}

void GetCustomMaxSize(ppd_file_t* ppd, float maxSize[2]) {
  maxSize[0] = maxSize[1] = 0;
  if (ppd == nullptr) return;
  ppd_size_t minimum, maximum;
  if (ppdPageSizeLimits(ppd, &minimum, &maximum)) {
    maxSize[0] = maximum.width;
    maxSize[1] = maximum.length;
  } else {
    maxSize[0] = ppd->custom_max[0];
    maxSize[1] = ppd->custom_max[1];
  }
}

void log_page_header2(cups_page_header2_t* h) {
  fprintf(stderr, "DEBUG: Duplex = %d\n", static_cast<int>(RawEnum(h->Duplex)));
  fprintf(stderr, "DEBUG: HWResolution = [ %d %d ]\n", static_cast<int>(h->HWResolution[0]),
          static_cast<int>(h->HWResolution[1]));
  fprintf(stderr, "DEBUG: ImagingBoundingBox = [ %d %d %d %d ]\n", static_cast<int>(h->ImagingBoundingBox[0]),
          static_cast<int>(h->ImagingBoundingBox[1]), static_cast<int>(h->ImagingBoundingBox[2]),
          static_cast<int>(h->ImagingBoundingBox[3]));
  fprintf(stderr, "DEBUG: Margins = [ %d %d ]\n", static_cast<int>(h->Margins[0]), static_cast<int>(h->Margins[1]));
  fprintf(stderr, "DEBUG: ManualFeed = %d\n", static_cast<int>(RawEnum(h->ManualFeed)));
  fprintf(stderr, "DEBUG: MediaPosition = %d\n", static_cast<int>(h->MediaPosition));
  fprintf(stderr, "DEBUG: NumCopies = %d\n", static_cast<int>(h->NumCopies));
  fprintf(stderr, "DEBUG: Orientation = %d\n", static_cast<int>(RawEnum(h->Orientation)));
  fprintf(stderr, "DEBUG: PageSize = [ %d %d ]\n", static_cast<int>(h->PageSize[0]), static_cast<int>(h->PageSize[1]));
  fprintf(stderr, "DEBUG: cupsWidth = %d\n", static_cast<int>(h->cupsWidth));
  fprintf(stderr, "DEBUG: cupsHeight = %d\n", static_cast<int>(h->cupsHeight));
  fprintf(stderr, "DEBUG: cupsMediaType = %d\n", static_cast<int>(h->cupsMediaType));
  fprintf(stderr, "DEBUG: cupsBitsPerColor = %d\n", static_cast<int>(h->cupsBitsPerColor));
  fprintf(stderr, "DEBUG: cupsBitsPerPixel = %d\n", static_cast<int>(h->cupsBitsPerPixel));
  fprintf(stderr, "DEBUG: cupsBytesPerLine = %d\n", static_cast<int>(h->cupsBytesPerLine));
  fprintf(stderr, "DEBUG: cupsColorOrder = %d\n", static_cast<int>(RawEnum(h->cupsColorOrder)));
  fprintf(stderr, "DEBUG: cupsColorSpace = %d\n", static_cast<int>(RawEnum(h->cupsColorSpace)));
  fprintf(stderr, "DEBUG: cupsCompression = %d\n", static_cast<int>(h->cupsCompression));
}

namespace {

// The PPDs call these papers by their standard PPD names (or names made of their measures);
// the paper tables keep the names of older PPDs. Both names stand for the same row.
const char* const kPpdPaperNames[][2] = {
    {"Env10", "Com10Envelope"},   {"184.86x260mm", "16K"},    {"195.09x269.88mm", "Big16K"},
    {"130.18x184.86mm", "32K"},   {"135.11x195.09mm", "Big32K"}, {"ISOB5", "IOSB5"},
    {"FanFoldGermanLegal", "Folio"}, {"8.5x13.5", "Oficio"},  {"119.94x230.01mm", "ZL"},
    {"ISOB6", "B6"},
};

const char* TablePaperName(const char* name) {
  for (const auto& names : kPpdPaperNames)
    if (strcmp(name, names[0]) == 0) return names[1];
  return name;
}

}  // namespace

void isCutThePaper(cups_page_header2_t* header, PAPER_SIZE_INFO* paperSizeArray, int num_option,
                   cups_option_t* options) {
  if (header->PageSize[0] <= 612 || header->PageSize[1] <= 1008 || paperSizeArray == nullptr) return;
  const char* pageSize = pfcupsGetOption("PageSize", num_option, options);
  if (pageSize == nullptr) return;
  pageSize = TablePaperName(pageSize);
  for (PAPER_SIZE_INFO* row = paperSizeArray; row->cupsPaperW != -1; ++row) {
    if (strcmp(pageSize, reinterpret_cast<const char*>(row->strPageSize)) == 0) {
      header->PageSize[0] = static_cast<unsigned>(row->cupsPaperW);
      header->PageSize[1] = static_cast<unsigned>(row->cupsPaperH);
      return;
    }
  }
}
