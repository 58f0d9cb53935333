// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Definitions of the job-wide globals of rastertoVarnel.
#include "common.h"

int g_page = 0;
std::atomic<int> Canceled{0};
std::atomic<int> g_ismiddlepage{1};
int gSendDataToDevice = 1;
int gCollateFile = 0;
int gManualDuplexOddFile = 0;
int gManualDuplexEvenFile = 0;
std::vector<long> gCacheSize;
char gPPDFile[1024] = {0};
char prntLastError[1024] = {0};
