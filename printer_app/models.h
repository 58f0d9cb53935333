// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// The raster models the Printer Application serves. The table is generated at build time from
// the PPDs of ppd/varnel.drv (model_table_gen), so the CUPS queues and the application always
// know the same models with the same settings.
#pragma once

#include <cstddef>

#include "paper_tables.h"
#include "print_options.h"

typedef struct _VARNEL_MODEL {
  const char* driverName;     // PAPPL driver name: the PPD's file name without ".ppd"
  const char* makeAndModel;   // "Maker Model"
  const char* modelName;      // the PPD's ModelName, which the raster filter keys its choices on
  const char* deviceId;       // IEEE 1284 device ID of the model
  int platform;               // PLATFORM_C, PLATFORM_Z or PLATFORM_M
  int supportManualDuplex;    // automatic duplex is printed as manual duplex
  int raster1200;             // the 1200-dpi mode prints 1200-dpi rasters (else it is a halftone mode)
  const char* duplexMsg;      // text that asks the user to turn the stack over
  float customMargins[4];     // left, bottom, right, top (points) of custom page sizes
  unsigned offeredFuncs;      // bit FuncName: the PPD offers that print function as an option
  int funcDefaults[PRINT_FUNC_COUNT];  // the print functions as the PPD's default choices set them
  const char* inputSlots;     // the PPD's InputSlot choices, comma-separated
  const char* densityLevels;  // the PPD's Density choices, comma-separated, lightest first
  int defaultPageW;           // default page size in points
  int defaultPageH;
} VARNEL_MODEL;

extern const VARNEL_MODEL gVarnelModels[];
extern const size_t gVarnelModelCount;

// The model of a driver name, or null.
const VARNEL_MODEL* FindModel(const char* driverName);
// True when the model offers the print function as an option.
bool ModelOffers(const VARNEL_MODEL* model, FuncName func);
// The paper table the raster filter uses for the model.
PAPER_SIZE_INFO* ModelPaperTable(const VARNEL_MODEL* model);

// True when a printer's IEEE 1284 device ID names the model: its manufacturer and model keys
// (MFG/MANUFACTURER, MDL/MODEL) equal the model's, ignoring case and surrounding blanks.
bool DeviceIdMatches(const char* deviceId, const VARNEL_MODEL* model);
// The driver for a device ID, or null when no model matches.
const char* DriverForDeviceId(const char* deviceId);
