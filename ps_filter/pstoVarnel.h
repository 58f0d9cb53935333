// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Entry of the pstoVarnel CUPS filter and the job-flow pieces around the copiers.
#pragma once

#include <string>

int pstoVarnel_main(int argc, char* argv[]);

// Spools standard input into a new temporary file, removed at once: returns its open descriptor
// (-1 on failure) and puts a path through which the file can be opened into path_out. A job
// that does not end its PJL job itself gets the end-of-job sequence appended.
int Copy_StdinToTempFile(std::string& path_out);
bool is_pdf_content_type();
void cancel_job(int signal_number);
// A message the user sees: through the CUPS localized error print when the library has it,
// else as a CUPS "ERROR: " line.
void ReportUserError(const char* message);
