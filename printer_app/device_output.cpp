// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// The printer output of a job in the Printer Application.
#include "device_output.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <new>
#include <string>
#include <system_error>

namespace {

// PAPPL keeps writes smaller than its own buffer (8 KiB) back until a flush.
const size_t kPapplBufferSize = 8192;

}  // namespace

DeviceOutput::DeviceOutput(pappl_device_t* device, size_t blockSize) : device_(device), blockSize_(blockSize) {}

DeviceOutput::~DeviceOutput() { StopKeepAlive(); }

ssize_t DeviceOutput::Write(const void* data, size_t count) {
  std::lock_guard<std::mutex> hold(lock_);
  if (failed_) {
    errno = EIO;
    return -1;
  }
  try {
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    pending_.insert(pending_.end(), bytes, bytes + count);
  } catch (const std::bad_alloc&) {
    failed_ = true;
    error_ = "out of memory for the printer output";
    errno = ENOMEM;
    return -1;
  }
  if (pending_.size() >= blockSize_ && FlushLocked() != 0) return -1;
  return static_cast<ssize_t>(count);
}

int DeviceOutput::Flush() {
  std::lock_guard<std::mutex> hold(lock_);
  return FlushLocked();
}

int DeviceOutput::FlushLocked() {
  if (failed_) {
    errno = EIO;
    return -1;
  }
  if (pending_.empty()) return 0;
  pappl_devmetrics_t before, after;
  papplDeviceGetMetrics(device_, &before);
  ssize_t written = papplDeviceWrite(device_, pending_.data(), pending_.size());
  // A short block stays in PAPPL's buffer until it is flushed; the flush reports nothing, so
  // the device's byte count tells whether the block went out.
  if (written >= 0 && pending_.size() < kPapplBufferSize) papplDeviceFlush(device_);
  papplDeviceGetMetrics(device_, &after);
  size_t sent = after.write_bytes - before.write_bytes;
  if (written < 0 || sent != pending_.size()) {
    failed_ = true;
    error_ = "the printer took " + std::to_string(sent) + " of " + std::to_string(pending_.size()) + " bytes";
    errno = EIO;
    return -1;
  }
  pending_.clear();
  return 0;
}

bool DeviceOutput::Failed() {
  std::lock_guard<std::mutex> hold(lock_);
  return failed_;
}

std::string DeviceOutput::Error() {
  std::lock_guard<std::mutex> hold(lock_);
  return error_;
}

void DeviceOutput::StartKeepAlive(long intervalMs, bool (*quiet)()) {
  StopKeepAlive();
  {
    std::lock_guard<std::mutex> hold(lock_);
    stop_ = false;
  }
  try {
    keepAlive_ = std::thread(&DeviceOutput::KeepAliveLoop, this, intervalMs, quiet);
  } catch (const std::system_error&) {
    // Without the thread the job still prints; only a printer that times out would notice.
  }
}

void DeviceOutput::StopKeepAlive() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    stop_ = true;
  }
  stopSignal_.notify_all();
  if (keepAlive_.joinable()) keepAlive_.join();
}

unsigned long DeviceOutput::KeepAliveCount() {
  std::lock_guard<std::mutex> hold(lock_);
  return fillers_;
}

void DeviceOutput::KeepAliveLoop(long intervalMs, bool (*quiet)()) {
  static const uint8_t kFiller[2] = {0, 0};
  std::unique_lock<std::mutex> hold(lock_);
  while (!stop_) {
    if (stopSignal_.wait_for(hold, std::chrono::milliseconds(intervalMs), [this] { return stop_; })) break;
    // The job's writes take the same lock: a filler pair lands between two of them, and only at
    // a quiet point of the page loop, so never inside a record.
    if (failed_ || !quiet()) continue;
    try {
      if (FlushLocked() != 0) continue;
      pending_.assign(kFiller, kFiller + sizeof kFiller);
      if (FlushLocked() == 0) ++fillers_;
    } catch (...) {
      // Out of memory for a message: the filler is skipped, the job's own writes find the rest.
    }
  }
}
