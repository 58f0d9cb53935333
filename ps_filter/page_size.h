// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Page size of QD3840 jobs: from the options, the PPD or the document; custom-size and A5 checks;
// correction of page-size statements while copying.
#pragma once

#include <string>

int checkmediasize(char* argv[], const char* path, int* width_out, int* height_out);
int Getmediasize(const char* path, float* llx, float* lly, float* urx, float* ury);
bool isSupportCustomPageSize(const char* options_text, const char* path);
bool isA5PageSize(const char* options_text, const char* path);
// Corrects one line of the copy; state is kept by the caller for a whole pass (0 at its start).
int FixPrnPageSize(std::string& line, int width, int height, unsigned char* state);

// The first line of the file that contains needle (case-insensitively), empty when none.
std::string FirstLineWith(const char* path, const char* needle);
