// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// The printer's status over USB: one vendor control transfer on endpoint 0.
#pragma once

#include <libusb-1.0/libusb.h>

#include <cstdint>

typedef int (*UsbControlTransferFunction)(libusb_device_handle* handle, uint8_t request_type, uint8_t request,
                                          uint16_t value, uint16_t index, unsigned char* data, uint16_t length,
                                          unsigned int timeout_ms);
// The transfer used by QueryStatusToUsb: libusb's own, replaced in tests.
extern UsbControlTransferFunction pflibusb_control_transfer;

// Asks for the status into buf (len bytes). 1 and the byte count in *code_out when data came back;
// 0 (and *code_out 0) when the transfer failed; 0 for a null handle.
int QueryStatusToUsb(libusb_device_handle* handle, unsigned char* buf, int len, int* code_out);
// One status query into a zeroed buffer: true when it succeeded and reports a cancel.
bool isUsbStatusCancel(libusb_device_handle* handle);
