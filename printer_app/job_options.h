// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// IPP job attributes as the raster filter's print functions. A job sent to the Printer
// Application gets the print functions that the CUPS queue of the same model would give the
// equivalent job options; what IPP has no word for travels as vendor attributes.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "models.h"

// Vendor attributes (job templates with -default and -supported printer attributes).
extern const char kVendorNegativePrint[];    // boolean: NegativePrint
extern const char kVendorRotateBackSides[];  // boolean: ImageRotation
extern const char kVendorManualDuplex[];     // boolean: ManualDuplex

enum JobSides { kOneSided = 0, kTwoSidedLongEdge = 1, kTwoSidedShortEdge = 2 };
enum JobQuality { kQualityDraft = 3, kQualityNormal = 4, kQualityHigh = 5 };  // IPP print-quality

// What a job asks for, in IPP terms (taken from PAPPL's print options and the job's attributes).
typedef struct _JOB_REQUEST {
  int sides = kOneSided;
  std::optional<int> darkness;       // printer-darkness-configured + print-darkness (0..100 is the range)
  int quality = kQualityNormal;
  std::string mediaSource;           // PWG media-source keyword ("" = the default slot)
  int resolutionX = 600;             // of the raster the job prints
  int collate = -1;                  // 1 collated, 0 uncollated copies, -1 the PPD default
  std::vector<std::pair<std::string, std::string>> vendor;  // vendor attribute -> "true"/"false"
} JOB_REQUEST;

// Fills the thirteen print functions for a job on the model: the PPD's defaults, then what the
// job asks for. Options the model's PPD does not offer keep their defaults.
void FillPrintFunctions(const VARNEL_MODEL* model, const JOB_REQUEST& request, PRINT_FUNC_INFO funcs[PRINT_FUNC_COUNT]);

// The 1200-dpi mode of a page: on models whose mode prints 1200-dpi rasters it follows the
// raster's resolution; on the others it is the halftone of high quality.
void ApplyRasterResolution(const VARNEL_MODEL* model, const JOB_REQUEST& request, int resolutionX,
                           PRINT_FUNC_INFO funcs[PRINT_FUNC_COUNT]);

// The PPD's Density choices of the model as numbers, lightest first (never empty).
std::vector<int> DensityLevels(const VARNEL_MODEL* model);
// printer-darkness-configured (0..100) that selects the PPD's default density level.
int DarknessForDefaultDensity(const VARNEL_MODEL* model);
// The density level a darkness selects (0 the lightest, 100 the darkest; beyond is clamped).
int DensityForDarkness(const VARNEL_MODEL* model, int darkness);

// The model's input slots as PWG media-source keywords, in the PPD's order (slots without a
// PWG counterpart are left out), and the keyword of an INPUTSLOT value.
std::vector<const char*> MediaSources(const VARNEL_MODEL* model);
const char* MediaSourceForInputSlot(int inputSlot);
// INPUTSLOT value of a media-source keyword (unknown keywords: automatic selection).
int InputSlotForMediaSource(const std::string& source);
