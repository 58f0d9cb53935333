// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// PDF documents: Ghostscript renders them into 8-bit grey PWG raster, whose pages go through
// the same raster callbacks as PAPPL's own formats.
#pragma once

#include <pappl/pappl.h>

#include <string>
#include <vector>

// Registers the application/pdf -> image/pwg-raster filter with the system.
void AddPdfFilter(pappl_system_t* system);

// The Ghostscript command line that renders a PDF for a page of pointsW x pointsH points at
// resolution dpi into PWG raster on standard output.
std::vector<std::string> GhostscriptArguments(const std::string& pdf, int pointsW, int pointsH, int dpi);
