// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// State that every test of the link monitor starts from: no cancel yet, the real resolver and
// USB transfer, and polling loops that do not sleep.
#pragma once

#include <gtest/gtest.h>

#include "common.h"
#include "status_poll.h"
#include "url.h"
#include "usb_status.h"

class MonitorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    job_canceled = 0;
    saved_libraries_[0] = gCupsLibraryNames[0];
    saved_libraries_[1] = gCupsLibraryNames[1];
    saved_sleep_ = pfStatusPollSleep;
    pfStatusPollSleep = [](unsigned) {};
  }
  void TearDown() override {
    gCupsLibraryNames[0] = saved_libraries_[0];
    gCupsLibraryNames[1] = saved_libraries_[1];
    pfhttpResolveURIOverride = nullptr;
    pflibusb_control_transfer = libusb_control_transfer;
    pfStatusPollSleep = saved_sleep_;
    job_canceled = 0;
  }

 private:
  const char* saved_libraries_[2] = {nullptr, nullptr};
  StatusPollSleepFunction saved_sleep_ = nullptr;
};

// A host name that cannot resolve and is never sent to a name server: its first label is longer
// than DNS allows, so the resolver gives up before building a query.
inline std::string UnresolvableHostName() { return std::string(70, 'x') + ".invalid"; }
