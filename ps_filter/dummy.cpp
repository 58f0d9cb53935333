// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// USB device lookup for the status thread.
#include "dummy.h"

#include <cstdio>
#include <cstring>

#include "bounded_text.h"

bool isSerialNumberInUri(const char* serial, const char* uri) {
  // An empty serial would "occur" in every URI and pick an arbitrary device.
  if (serial == nullptr || uri == nullptr || serial[0] == '\0') return false;
  return ContainsIgnoringCaseWithin(uri, strlen(uri), serial);
}

namespace {

// Opens device and keeps it when its serial number is the key; nullptr otherwise.
libusb_device_handle* OpenIfSerialMatches(libusb_device* device, const char* uri) {
  libusb_device_descriptor descriptor;
  int result = libusb_get_device_descriptor(device, &descriptor);
  if (result < 0) {
    fprintf(stderr, "gstopcl::SenddummyCmdToUsb: libusb_get_device_descriptor=%d\n", result);
    return nullptr;
  }
  libusb_device_handle* handle = nullptr;
  if (libusb_open(device, &handle) != 0 || handle == nullptr) return nullptr;
  if (descriptor.iSerialNumber != 0) {
    unsigned char serial[128] = {0};
    int length = libusb_get_string_descriptor_ascii(handle, descriptor.iSerialNumber, serial, sizeof serial - 1);
    if (length > 0 && isSerialNumberInUri(reinterpret_cast<const char*>(serial), uri)) {
      fputs("libusb find device handle\n", stderr);
      return handle;
    }
  }
  libusb_close(handle);
  return nullptr;
}

}  // namespace

libusb_device_handle* FindUsbDeviceHandle(const char* uri) {
  if (uri == nullptr) return nullptr;
  int result = libusb_init(nullptr);
  if (result < 0) {
    fprintf(stderr, "gstopcl::SenddummyCmdToUsb: Unable to initialize USB acc via libusb,libusb error %d\n", result);
    return nullptr;
  }
  libusb_device** devices = nullptr;
  ssize_t count = libusb_get_device_list(nullptr, &devices);
  if (count <= 0) {
    fputs("gstopcl::SenddummyCmdToUsb: get device list failed\n", stderr);
    if (devices != nullptr) libusb_free_device_list(devices, 1);
    libusb_exit(nullptr);
    return nullptr;
  }
  libusb_device_handle* found = nullptr;
  for (ssize_t i = 0; i < count && found == nullptr; ++i) found = OpenIfSerialMatches(devices[i], uri);
  libusb_free_device_list(devices, 1);
  // Without a device nobody will end the context but us.
  if (found == nullptr) libusb_exit(nullptr);
  return found;
}
