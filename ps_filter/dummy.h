// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Finding the printer's USB device from the serial number that its CUPS URI carries.
#pragma once

#include <libusb-1.0/libusb.h>

// Opens the first USB device whose serial number occurs in uri (case-insensitive); nullptr when
// none does. On success the caller closes the handle and then ends libusb's default context.
libusb_device_handle* FindUsbDeviceHandle(const char* uri);
// The serial-number key: a non-empty serial that occurs in the URI, ignoring case.
bool isSerialNumberInUri(const char* serial, const char* uri);
