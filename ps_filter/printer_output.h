// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Everything pstoVarnel sends to the printer goes through here: written straight to standard
// output, the first failure remembered so that the job can end with an error, and the page
// comments counted for CUPS' page accounting.
#pragma once

#include <cstddef>
#include <string>

// Writes the bytes to standard output, whole (retrying interrupted and partial writes). False
// when they could not be written; after the first such failure nothing more is written and every
// call returns false.
bool WriteToPrinter(const char* data, size_t size);
bool WriteToPrinter(const std::string& bytes);
// True once a write to the printer has failed; the errno of that failure.
bool PrinterOutputFailed();
int PrinterOutputError();

// Every page that reaches the printer (a "%%Page:" comment at the start of a line, outside
// documents embedded between "%%BeginDocument" and "%%EndDocument") is reported to CUPS as
// "PAGE: n c", n counting the pages sent in this job and c the copies the printer makes of each.
void SetPrinterCopiesPerPage(int copies);
int PagesSentToPrinter();
