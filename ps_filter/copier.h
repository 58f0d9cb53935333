// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// The two copiers that pass the job file to standard output and complete its PJL header.
#pragma once

#include <string>

// Copies the file at path to the printer; false (after an "ERROR: " line) when it cannot be
// opened or read.
bool WritePSdataToStdout(char* argv[], const char* path);
bool CopyForQd3840(char* argv[], const char* path);
bool CopyForGenericPrinter(char* argv[], const char* path);

// Duplex option of the job: 0 None, 1 DuplexNoTumble, 2 DuplexTumble, 3 other, -1 absent.
int isDuplexPrint(const char* options_text, std::string& value_out);

// The "ERROR: " line of a print file that cannot be opened or read (what: "open", "read").
void ReportPrintFileError(const char* what, const char* path, int error);
