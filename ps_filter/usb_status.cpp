// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
#include "usb_status.h"

#include <cstdio>
#include <cstring>

#include "cancel_status.h"

UsbControlTransferFunction pflibusb_control_transfer = libusb_control_transfer;

namespace {
constexpr uint8_t kStatusRequestType = 0xC1;  // device to host, vendor request, interface
constexpr uint8_t kStatusRequest = 0;
constexpr unsigned int kStatusTimeoutMs = 2000;
constexpr int kStatusBufferSize = 1024;
}  // namespace

int QueryStatusToUsb(libusb_device_handle* handle, unsigned char* buf, int len, int* code_out) {
  if (handle == nullptr || buf == nullptr || code_out == nullptr || len <= 0) return 0;
  if (len > 0xFFFF) len = 0xFFFF;
  int result = pflibusb_control_transfer(handle, kStatusRequestType, kStatusRequest, 0, 0, buf,
                                         static_cast<uint16_t>(len), kStatusTimeoutMs);
  if (result > 0) {
    *code_out = result;
    fputs("\n", stderr);
    return 1;
  }
  *code_out = 0;
  fprintf(stderr, "libusb_control_transfer fail (code=%d)\n", result);
  return 0;
}

bool isUsbStatusCancel(libusb_device_handle* handle) {
  unsigned char status[kStatusBufferSize];
  memset(status, 0, sizeof status);
  int received = 0;
  if (QueryStatusToUsb(handle, status, sizeof status, &received) != 1) return false;
  return isCancelStatusCode(status[0]);
}
