// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// The USB status query with the control transfer replaced, and the serial-number key.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "common.h"
#include "dummy.h"
#include "monitor_fixture.h"
#include "printerCanel.h"
#include "status_poll.h"
#include "usb_status.h"

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

namespace {

// What the replaced transfer saw and what it answers, one entry per call (the last repeats).
struct Transfer {
  int result;          // return value of the transfer
  int status_byte;     // written to data[0] when >= 0
};
std::vector<Transfer> g_plan;
struct Seen {
  uint8_t request_type, request;
  uint16_t value, index, length;
  unsigned int timeout_ms;
};
std::vector<Seen> g_seen;

int FakeTransfer(libusb_device_handle*, uint8_t request_type, uint8_t request, uint16_t value, uint16_t index,
                 unsigned char* data, uint16_t length, unsigned int timeout_ms) {
  g_seen.push_back({request_type, request, value, index, length, timeout_ms});
  const Transfer& t = g_plan[std::min(g_seen.size(), g_plan.size()) - 1];
  if (t.status_byte >= 0 && length > 0) data[0] = static_cast<unsigned char>(t.status_byte);
  return t.result;
}

unsigned g_sleeps = 0;
void CountSleep(unsigned milliseconds) {
  EXPECT_EQ(milliseconds, 500u);
  ++g_sleeps;
}

// Never dereferenced: the replaced transfer is the only user of the handle.
libusb_device_handle* FakeHandle() {
  static int token;
  return reinterpret_cast<libusb_device_handle*>(&token);
}

class UsbStatusTest : public MonitorTest {
 protected:
  void SetUp() override {
    MonitorTest::SetUp();
    g_plan.clear();
    g_seen.clear();
    g_sleeps = 0;
    pflibusb_control_transfer = FakeTransfer;
    pfStatusPollSleep = CountSleep;
  }
};

TEST_F(UsbStatusTest, AsksWithTheVendorStatusRequest) {
  g_plan = {{7, 0x07}};
  unsigned char buffer[1024] = {0};
  int code = -1;
  CaptureStderr();
  EXPECT_EQ(QueryStatusToUsb(FakeHandle(), buffer, sizeof buffer, &code), 1);
  EXPECT_EQ(GetCapturedStderr(), "\n");
  EXPECT_EQ(code, 7);
  ASSERT_EQ(g_seen.size(), 1u);
  EXPECT_EQ(g_seen[0].request_type, 0xC1);
  EXPECT_EQ(g_seen[0].request, 0);
  EXPECT_EQ(g_seen[0].value, 0);
  EXPECT_EQ(g_seen[0].index, 0);
  EXPECT_EQ(g_seen[0].length, 1024);
  EXPECT_EQ(g_seen[0].timeout_ms, 2000u);

  g_plan = {{LIBUSB_ERROR_TIMEOUT, -1}};
  CaptureStderr();
  EXPECT_EQ(QueryStatusToUsb(FakeHandle(), buffer, sizeof buffer, &code), 0);
  EXPECT_EQ(GetCapturedStderr(), "libusb_control_transfer fail (code=-7)\n");
  EXPECT_EQ(code, 0);

  EXPECT_EQ(QueryStatusToUsb(nullptr, buffer, sizeof buffer, &code), 0);
  EXPECT_EQ(g_seen.size(), 2u);  // no transfer without a handle
}

TEST_F(UsbStatusTest, CancelDecision) {
  struct Case {
    const char* name;
    Transfer transfer;
    bool cancels;
  } cases[] = {
      {"cancel 0x06", {1, 0x06}, true},
      {"cancel 0x86", {64, 0x86}, true},
      {"status 0x07", {1, 0x07}, false},
      {"status 0x00", {1, 0x00}, false},
      {"timed out", {LIBUSB_ERROR_TIMEOUT, -1}, false},
      {"device gone", {LIBUSB_ERROR_NO_DEVICE, -1}, false},
      {"failed after writing a cancel byte", {LIBUSB_ERROR_PIPE, 0x06}, false},
      {"no data", {0, 0x06}, false},
  };
  for (const auto& c : cases) {
    g_plan = {c.transfer};
    CaptureStderr();
    EXPECT_EQ(isUsbStatusCancel(FakeHandle()), c.cancels) << c.name;
    GetCapturedStderr();
  }
}

TEST_F(UsbStatusTest, PollsEverySecondPassUntilTheJobIsCancelled) {
  g_plan = {{LIBUSB_ERROR_TIMEOUT, -1}, {1, 0x07}, {LIBUSB_ERROR_IO, -1}, {1, 0x86}};
  CaptureStderr();
  PollUsbUntilCanceled(FakeHandle());
  GetCapturedStderr();
  EXPECT_EQ(job_canceled.load(), 1);
  EXPECT_EQ(g_seen.size(), 4u);
  // Two 500 ms passes per query, the last query answered before its pass sleeps.
  EXPECT_EQ(g_sleeps, 7u);
}

TEST(UsbSerialKey, SerialNumberOfTheCupsUri) {
  const char* uri = "usb://Prul/PRLP8400DN%20Series?serial=AB12CD34&interface=1";
  struct Case {
    const char* serial;
    bool matches;
  } cases[] = {
      {"AB12CD34", true}, {"ab12cd34", true}, {"ZZ99", false}, {"", false}, {"AB12CD35", false},
  };
  for (const auto& c : cases) EXPECT_EQ(isSerialNumberInUri(c.serial, uri), c.matches) << c.serial;
  EXPECT_FALSE(isSerialNumberInUri(nullptr, uri));
  EXPECT_FALSE(isSerialNumberInUri("AB12CD34", nullptr));
}

TEST_F(UsbStatusTest, WithoutTheDeviceTheThreadGivesUpAndLeavesTheJobAlone) {
  cancel_query_arg arg;
  memset(&arg, 0, sizeof arg);
  strcpy(arg.device_uri, "usb://Prul/PRLP8400DN%20Series?serial=NO-SUCH-SERIAL-0001");
  strcpy(arg.job_owner, "vm");
  CaptureStderr();
  void* result = Printer_cancle_query_tread(&arg);
  std::string log = GetCapturedStderr();
  EXPECT_EQ(result, nullptr);
  EXPECT_NE(log.find("querythread::handle is null\n"), std::string::npos) << log;
  EXPECT_EQ(job_canceled.load(), 0);
  EXPECT_TRUE(g_seen.empty());
}

}  // namespace
