// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// The PAPPL driver of every raster model: capabilities, defaults and the raster callbacks.
#pragma once

#include <pappl/pappl.h>

#include <vector>

// The driver list handed to PAPPL (one entry per model of the generated table).
std::vector<pappl_pr_driver_t> VarnelDrivers();

// pappl_pr_driver_cb_t: fills the driver data and vendor attributes of a model.
bool VarnelDriverCallback(pappl_system_t* system, const char* driver_name, const char* device_uri,
                          const char* device_id, pappl_pr_driver_data_t* data, ipp_t** attrs, void* cbdata);

// pappl_pr_autoadd_cb_t: the driver whose model has the device ID, or null.
const char* VarnelAutoAddCallback(const char* device_info, const char* device_uri, const char* device_id,
                                  void* data);
