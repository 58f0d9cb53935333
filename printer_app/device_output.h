// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// The printer output of a job in the Printer Application: a PAPPL device, with every write and
// flush checked, and the keep-alive filler that the C and Z printers need while a page is
// computed.
#pragma once

#include <pappl/pappl.h>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Writes go to a buffer of the output's own and reach the device in large blocks or at a flush.
// PAPPL's own device buffer hides the result of its last write, so the output checks each flush
// by the device's byte count. After the first failure every call fails.
class DeviceOutput {
 public:
  explicit DeviceOutput(pappl_device_t* device, size_t blockSize = 64 * 1024);
  ~DeviceOutput();
  DeviceOutput(const DeviceOutput&) = delete;
  DeviceOutput& operator=(const DeviceOutput&) = delete;

  // count bytes taken, or -1 (errno EIO) once the device has failed.
  ssize_t Write(const void* data, size_t count);
  // 0 when everything written so far reached the device, else -1 (errno EIO).
  int Flush();
  bool Failed();
  std::string Error();

  // Starts sending the two bytes 00 00 every intervalMs while quiet() is true, between two
  // writes and never inside one. Stops at StopKeepAlive or destruction.
  void StartKeepAlive(long intervalMs, bool (*quiet)());
  void StopKeepAlive();
  // Filler pairs sent so far.
  unsigned long KeepAliveCount();

 private:
  int FlushLocked();
  void KeepAliveLoop(long intervalMs, bool (*quiet)());

  pappl_device_t* device_;
  size_t blockSize_;
  std::mutex lock_;  // one writer at a time: the job's writes and the filler
  std::vector<uint8_t> pending_;
  bool failed_ = false;
  std::string error_;
  std::thread keepAlive_;
  std::condition_variable stopSignal_;
  bool stop_ = false;
  unsigned long fillers_ = 0;
};
