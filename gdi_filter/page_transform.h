// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Page rotation and blank-page insertion.
#pragma once

#include <cups/raster.h>

#include "prnt.h"

// In-place rotations of an 8-bit grey image of widthBytes x heightPixels bytes. 1 on success.
int Rotate180(char* imgBuf, unsigned int widthBytes, unsigned int heightPixels);
// Clockwise; afterwards the buffer holds an image heightPixels wide and widthBytes high.
int Rotate90(unsigned char* imgBuf, unsigned int widthBytes, unsigned int heightPixels);
// Sends one blank page numbered g_page + 1 through the normal page sequence.
void InsertBlankPage(cups_page_header2_t header, PGDI_START_PAGE_PARAM pStartPageParam, int platform);
// Puts step in front of the error chain (prntLastError) and logs the chain on standard error,
// one "ERROR: " line per message.
void ReportChainedFailure(const char* step);
