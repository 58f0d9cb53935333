// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// IPP job attributes as the raster filter's print functions.
#include "job_options.h"

#include <strings.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "prnt.h"

const char kVendorNegativePrint[] = "negative-print";
const char kVendorRotateBackSides[] = "rotate-back-sides";
const char kVendorManualDuplex[] = "manual-duplex";

namespace {

// The PPD's InputSlot choices and the media-source keywords that name the same slots.
struct SlotName {
  const char* choice;
  const char* source;
  int inputSlot;  // INPUTSLOT value of the choice
};
const SlotName kSlots[] = {{"Auto", "auto", 0}, {"ManualFeed", "manual", 1}, {"AutoFeed", "main", 2}};

std::vector<std::string> Split(const char* text) {
  std::vector<std::string> parts;
  std::string rest = text != nullptr ? text : "";
  size_t start = 0;
  while (start <= rest.size() && !rest.empty()) {
    size_t comma = rest.find(',', start);
    if (comma == std::string::npos) comma = rest.size();
    if (comma > start) parts.push_back(rest.substr(start, comma - start));
    start = comma + 1;
  }
  return parts;
}

// A vendor boolean of the request; -1 when the job does not say.
int VendorBoolean(const JOB_REQUEST& request, const char* name) {
  for (const auto& entry : request.vendor)
    if (entry.first == name) return entry.second == "true" || entry.second == "on" ? 1 : 0;
  return -1;
}

void SetIfOffered(const VARNEL_MODEL* model, PRINT_FUNC_INFO funcs[], FuncName func, int value) {
  if (ModelOffers(model, func) && value >= 0) funcs[func].value = value;
}

}  // namespace

std::vector<int> DensityLevels(const VARNEL_MODEL* model) {
  std::vector<int> levels;
  for (const std::string& choice : Split(model->densityLevels)) levels.push_back(atoi(choice.c_str()));
  if (levels.empty()) levels.push_back(model->funcDefaults[DENSITY]);
  return levels;
}

int DarknessForDefaultDensity(const VARNEL_MODEL* model) {
  std::vector<int> levels = DensityLevels(model);
  if (levels.size() < 2) return 50;
  auto found = std::find(levels.begin(), levels.end(), model->funcDefaults[DENSITY]);
  size_t index = found != levels.end() ? static_cast<size_t>(found - levels.begin()) : levels.size() / 2;
  return static_cast<int>(index * 100 / (levels.size() - 1));
}

int DensityForDarkness(const VARNEL_MODEL* model, int darkness) {
  std::vector<int> levels = DensityLevels(model);
  darkness = std::clamp(darkness, 0, 100);
  size_t index = (static_cast<size_t>(darkness) * (levels.size() - 1) + 50) / 100;
  return levels[index];
}

std::vector<const char*> MediaSources(const VARNEL_MODEL* model) {
  std::vector<const char*> sources;
  for (const std::string& choice : Split(model->inputSlots))
    for (const SlotName& slot : kSlots)
      if (!strcasecmp(choice.c_str(), slot.choice)) sources.push_back(slot.source);
  return sources;
}

const char* MediaSourceForInputSlot(int inputSlot) {
  for (const SlotName& slot : kSlots)
    if (slot.inputSlot == inputSlot) return slot.source;
  return kSlots[0].source;
}

int InputSlotForMediaSource(const std::string& source) {
  for (const SlotName& slot : kSlots)
    if (source == slot.source) return slot.inputSlot;
  return 0;
}

void ApplyRasterResolution(const VARNEL_MODEL* model, const JOB_REQUEST& request, int resolutionX,
                           PRINT_FUNC_INFO funcs[PRINT_FUNC_COUNT]) {
  int dpi1200 = model->raster1200 ? (resolutionX == 1200 ? 1 : 0) : (request.quality == kQualityHigh ? 1 : 0);
  SetIfOffered(model, funcs, DPI1200, dpi1200);
}

void FillPrintFunctions(const VARNEL_MODEL* model, const JOB_REQUEST& request, PRINT_FUNC_INFO funcs[PRINT_FUNC_COUNT]) {
  InitPrintFuncInfo(funcs);
  for (int i = 0; i < PRINT_FUNC_COUNT; ++i) funcs[i].value = model->funcDefaults[i];

  int duplex = request.sides == kTwoSidedLongEdge ? 1 : request.sides == kTwoSidedShortEdge ? 2 : 0;
  SetIfOffered(model, funcs, AUTODUPLEX, duplex);
  funcs[AUTODUPLONGEDGE].value = funcs[AUTODUPLEX].value;

  if (request.darkness) SetIfOffered(model, funcs, DENSITY, DensityForDarkness(model, *request.darkness));
  SetIfOffered(model, funcs, TONERMODE, request.quality == kQualityDraft ? 1 : 0);
  ApplyRasterResolution(model, request, request.resolutionX, funcs);
  if (!request.mediaSource.empty()) SetIfOffered(model, funcs, INPUTSLOT, InputSlotForMediaSource(request.mediaSource));
  SetIfOffered(model, funcs, COLLATE, request.collate);
  SetIfOffered(model, funcs, NEGATIVEPRINT, VendorBoolean(request, kVendorNegativePrint));
  SetIfOffered(model, funcs, IMAGEROTATION, VendorBoolean(request, kVendorRotateBackSides));
  SetIfOffered(model, funcs, MANUALDUPLEX, VendorBoolean(request, kVendorManualDuplex));
}
