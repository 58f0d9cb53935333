// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// The print core logs CUPS-style lines ("DEBUG: ...", "INFO: ...", "ERROR: ...") on standard
// error. In the server they belong in PAPPL's log, with the job they are about: the server's
// standard error stream is replaced by one that hands every complete line to the job being
// printed, or to the system log between jobs.
#pragma once

#include <pappl/pappl.h>

#include <string>

// Called for every line of the running job: its level (from the CUPS prefix) and its text
// without the prefix.
typedef void (*LOG_LINE_CB)(void* context, pappl_loglevel_t level, const char* text);

// Replaces stderr once for the life of the process. Call before the server's threads start.
// false when the stream cannot be made (stderr is then left alone).
bool InstallLogBridge(pappl_system_t* system);
// The receiver of the lines from now on; nullptr for the system log. The bridge is flushed first.
void SetLogReceiver(LOG_LINE_CB callback, void* context);

// The level and text of a CUPS-style log line ("ERROR: text" -> PAPPL_LOGLEVEL_ERROR, "text").
pappl_loglevel_t ParseLogLine(const std::string& line, std::string* text);
