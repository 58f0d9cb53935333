// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// The polling loops of the status thread, apart from the thread so that they can be driven alone.
#pragma once

#include <libusb-1.0/libusb.h>

// Waits between two passes of a polling loop. Tests replace it to run the loops without delay.
typedef void (*StatusPollSleepFunction)(unsigned milliseconds);
extern StatusPollSleepFunction pfStatusPollSleep;

// Milliseconds between passes; USB asks every 2nd pass, the network every 5th.
constexpr unsigned kStatusPollPassMs = 500;
constexpr int kUsbPassesPerQuery = 2;
constexpr int kNetPassesPerQuery = 5;

// Polls the USB printer until it reports a cancel, then sets job_canceled and returns.
void PollUsbUntilCanceled(libusb_device_handle* handle);
// Polls the network printer at ip until it reports a cancel of a job of owner, then sets
// job_canceled and returns.
void PollNetUntilCanceled(const char* ip, const char* owner);
