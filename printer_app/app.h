// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// varnel-printer-app: the raster models as an IPP Everywhere Printer Application (PAPPL).
#pragma once

#include <pappl/pappl.h>

// papplMainloop with the models' drivers and the application's system: the standard
// sub-commands (server, add, submit, drivers, devices, printers, autoadd, shutdown, ...).
int RunPrinterApp(int argc, char* argv[]);

// True when the command line runs the server (the "server" sub-command).
bool IsServerCommand(int argc, char* argv[]);

// pappl_ml_system_cb_t: the system object of a server, from the standard server options
// (server-port, listen-hostname, spool-directory, log-file, log-level, server-options, ...).
pappl_system_t* VarnelSystemCallback(int num_options, cups_option_t* options, void* data);
