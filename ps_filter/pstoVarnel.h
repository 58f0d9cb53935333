// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Entry of the pstoVarnel CUPS filter and the job-flow pieces around the copiers.
#pragma once

#include <string>

int pstoVarnel_main(int argc, char* argv[]);

// Spools standard input into a new temporary file whose name goes to path_out; false on failure.
// A job whose end lacks the end-of-job sequence gets one.
bool Copy_StdinToTempFile(std::string& path_out);
bool is_pdf_content_type();
void cancel_job(int signal_number);
// A message the user sees: through the CUPS localized error print when the library has it,
// else as a CUPS "ERROR: " line.
void ReportUserError(const char* message);
