// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// The job's thirteen print functions, filled from the page header, the job options and (on the
// Z platform) the PPD's defaults.
#pragma once

#include <cups/cups.h>
#include <cups/ppd.h>
#include <cups/raster.h>

#include <string>

#include "paper_tables.h"

typedef enum _FuncName {
  AUTODUPLEX = 0,
  AUTODUPLONGEDGE,
  MANUALDUPLEX,
  DENSITY,
  TONERMODE,
  LONGEDGEFEED,
  REVERSE,
  DPI1200,
  NEGATIVEPRINT,
  INPUTSLOT,
  IMAGEROTATION,
  COLLATE,
  FINEMODE,
  PRINT_FUNC_COUNT
} FuncName;

typedef struct _PRINT_FUNC_INFO {
  const char* name;  // job option name
  int value;
} PRINT_FUNC_INFO, *PPRINT_FUNC_INFO;

extern const PRINT_FUNC_INFO gDefaultPrintFuncInfo[PRINT_FUNC_COUNT];

// The Density choices of the PPDs (ppd/varnel.drv): 0 (lightest) to 4 (darkest), 2 by default.
enum { kDensityLightest = 0, kDensityDarkest = 4 };

#include <cstring>

// The number stored in an enumerated field of a raster header. The header comes from the job, so
// such a field can hold any number, not only a value of its enumeration.
template <typename Enum>
unsigned RawEnum(const Enum& field) {
  unsigned value = 0;
  memcpy(&value, &field, sizeof value < sizeof field ? sizeof value : sizeof field);
  return value;
}
// Copies the default table into the job's table.
void InitPrintFuncInfo(PPRINT_FUNC_INFO pPrntFuncInfo);
// Fills the table from the header (duplex) and the parsed job options. A Density that is not a
// whole number from kDensityLightest to kDensityDarkest is ignored (with a DEBUG line).
void GetFunctionValue(PPRINT_FUNC_INFO pPrntFuncInfo, int num_option, cups_option_t* options,
                      cups_page_header2_t* header);
// Appends to parameters (a copy of argv5) the PPD defaults of the options argv5 does not mention,
// and the Density default also when argv5 gives a Density that is no choice (then logged).
void checkOptionKey(std::string& parameters, const char* argv5, ppd_file_t* ppd);
// The largest custom page size of the PPD, width and length in points: ppdPageSizeLimits'
// maximum when the PPD offers custom sizes, else the ranges of its ParamCustomPageSize lines
// (custom_max); 0 x 0 when it has neither.
void GetCustomMaxSize(ppd_file_t* ppd, float maxSize[2]);
// Writes the page header fields to the log.
void log_page_header2(cups_page_header2_t* header);
// A page larger than Legal in both directions takes the size of the table paper named by the job's
// "PageSize" option.
void isCutThePaper(cups_page_header2_t* header, PAPER_SIZE_INFO* paperSizeArray, int num_option,
                   cups_option_t* options);
