// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// The status thread: watches the printer for a cancel of this host's job at its panel.
#include "printerCanel.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "bounded_text.h"
#include "cancel_status.h"
#include "common.h"
#include "dummy.h"
#include "snmp_status.h"
#include "status_poll.h"
#include "url.h"
#include "usb_status.h"

namespace {

void SleepMilliseconds(unsigned milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

constexpr size_t kAddressSize = 1024;
char thread_exit_text[] = "Job cancel, Status thread exit.\n";

// The argument's texts as strings, never read past their fields.
std::string FieldText(const char* field, size_t size) { return std::string(field, strnlen(field, size)); }

void* WatchUsbPrinter(const std::string& uri) {
  libusb_device_handle* handle = FindUsbDeviceHandle(uri.c_str());
  if (handle == nullptr) {
    fputs("querythread::handle is null\n", stderr);
    return nullptr;
  }
  fputs("Status_query::handle yes\n", stderr);
  PollUsbUntilCanceled(handle);
  libusb_close(handle);
  libusb_exit(nullptr);
  return thread_exit_text;
}

// The printer's address from the device URI; empty when it has none we can use.
std::string NetPrinterAddress(const std::string& uri) {
  char address[kAddressSize] = {0};
  int port = 9100;
  bool dnssd = uri.find("dnssd://") != std::string::npos;
  if (!getPrinterHostNameFromUri(uri.c_str(), address, &port) && dnssd)
    getPrinterHostNameFromDNSSDUri(uri.c_str(), address, &port);
  if (port == 0 && dnssd) {
    // A service name that resolved to a host without a port: look the host up ourselves.
    char name[kAddressSize] = {0};
    getPrinterHostNameFromDNSSDUri(uri.c_str(), name, &port);
    if (GetIpByHostname(name, address) != 0) {
      fputs("supply host to ip failed\n", stderr);
      return std::string();
    }
  }
  return FieldText(address, sizeof address);
}

void* WatchNetPrinter(const std::string& uri, const std::string& owner) {
  fputs("querythread::net\n", stderr);
  std::string address = NetPrinterAddress(uri);
  if (address.empty()) return nullptr;
  fprintf(stderr, "ip:%s\n", address.c_str());
  PollNetUntilCanceled(address.c_str(), owner.c_str());
  return thread_exit_text;
}

}  // namespace

StatusPollSleepFunction pfStatusPollSleep = SleepMilliseconds;

void PollUsbUntilCanceled(libusb_device_handle* handle) {
  for (int pass = 0;;) {
    if (++pass == kUsbPassesPerQuery) {
      pass = 0;
      if (isUsbStatusCancel(handle)) {
        job_canceled.store(1);
        return;
      }
    }
    pfStatusPollSleep(kStatusPollPassMs);
  }
}

void PollNetUntilCanceled(const char* ip, const char* owner) {
  unsigned char reply[kSnmpReplyBufferSize];
  for (int pass = 0;;) {
    if (++pass == kNetPassesPerQuery) {
      pass = 0;
      memset(reply, 0, sizeof reply);
      int received = 0;
      if (QueryStatusToNet(ip, reply, &received) && isCancelReplyForOwner(reply, received, owner)) {
        job_canceled.store(1);
        return;
      }
    }
    pfStatusPollSleep(kStatusPollPassMs);
  }
}

void* Printer_cancle_query_tread(void* arg) {
  fprintf(stderr, "thread arg point address:0x%p\n", arg);
  const cancel_query_arg* query = static_cast<const cancel_query_arg*>(arg);
  if (query == nullptr) return nullptr;
  std::string uri = FieldText(query->device_uri, sizeof query->device_uri);
  std::string owner = FieldText(query->job_owner, sizeof query->job_owner);
  if (ContainsIgnoringCaseWithin(uri.c_str(), uri.size(), "usb")) return WatchUsbPrinter(uri);
  return WatchNetPrinter(uri, owner);
}
