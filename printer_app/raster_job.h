// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// PAPPL's raster callbacks on the print core: a job's pages arrive as 8-bit grey lines (from
// PAPPL's PWG/Apple raster, JPEG and PNG readers, or from the PDF filter) and leave as the
// printer stream on the printer's device.
//
// The core keeps a job in process globals, so one job prints at a time in the whole application:
// a job waits in its start callback until the job before it (on any printer) has ended.
#pragma once

#include <pappl/pappl.h>

// Puts the five raster callbacks into a driver.
void SetRasterCallbacks(pappl_pr_driver_data_t* data);

bool VarnelStartJob(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device);
bool VarnelStartPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device, unsigned page);
bool VarnelWriteLine(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device, unsigned y,
                     const unsigned char* line);
bool VarnelEndPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device, unsigned page);
bool VarnelEndJob(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device);
