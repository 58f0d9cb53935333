// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// The printer output of the application: every byte reaches the device in order, a keep-alive
// filler pair only ever falls between two writes at a quiet point, and a device that fails is
// noticed at the write or flush that fails.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "device_output.h"
#include "test_support.h"

namespace varnel_test {
namespace {

std::atomic<bool> gQuiet{false};
bool Quiet() { return gQuiet.load(); }

struct DeviceClose {
  void operator()(pappl_device_t* device) const { papplDeviceClose(device); }
};
using Device = std::unique_ptr<pappl_device_t, DeviceClose>;

Device OpenFile(const std::string& path) { return Device(papplDeviceOpen(("file://" + path).c_str(), "test", nullptr, nullptr)); }

// A record of the job: its bytes are never zero, so filler pairs are told apart.
std::string Record(int i) { return std::string(3 + i % 40, static_cast<char>(0x41 + i % 20)); }

TEST(DeviceOutput, FillerFallsOnlyBetweenWritesAtQuietPoints) {
  TempDir dir;
  std::string path = dir.File("out.prn");
  Device device = OpenFile(path);
  ASSERT_TRUE(device);
  std::string expected;
  unsigned long fillers = 0;
  {
    DeviceOutput output(device.get(), 256);
    output.StartKeepAlive(2, Quiet);
    for (int i = 0; i < 400; ++i) {
      // A record sequence of several writes: no filler may fall between them.
      gQuiet = false;
      for (int part = 0; part < 3; ++part) {
        std::string record = Record(i * 3 + part);
        ASSERT_EQ(output.Write(record.data(), record.size()), static_cast<ssize_t>(record.size()));
        expected += record;
      }
      ASSERT_EQ(output.Flush(), 0);
      gQuiet = true;  // between two sequences the printer may get filler
      std::this_thread::sleep_for(std::chrono::microseconds(i % 7 == 0 ? 3000 : 50));
    }
    gQuiet = false;
    output.StopKeepAlive();
    fillers = output.KeepAliveCount();
    EXPECT_FALSE(output.Failed());
  }
  device.reset();
  std::string written = ReadFile(path);
  EXPECT_GT(fillers, 0u) << "the keep-alive never wrote";
  // The device got the records in order; filler pairs only at the boundaries of sequences.
  size_t at = 0, sequence = 0;
  unsigned long pairs = 0;
  for (size_t pos = 0; pos < written.size();) {
    if (written[pos] == '\0') {
      ASSERT_LT(pos + 1, written.size());
      ASSERT_EQ(written[pos + 1], '\0') << "a single zero byte at " << pos;
      ASSERT_EQ(sequence % 3, 0u) << "filler inside a record sequence at " << pos;
      pos += 2;
      ++pairs;
      continue;
    }
    std::string record = Record(static_cast<int>(sequence));
    ASSERT_EQ(written.compare(pos, record.size(), record), 0) << "record " << sequence << " at " << pos;
    pos += record.size();
    at += record.size();
    ++sequence;
  }
  EXPECT_EQ(sequence, 1200u);
  EXPECT_EQ(at, expected.size());
  EXPECT_EQ(pairs, fillers);
}

TEST(DeviceOutput, AFailingDeviceIsNoticedAndStaysFailed) {
  Device device = OpenFile("/dev/full");
  ASSERT_TRUE(device);
  DeviceOutput output(device.get());
  std::string record(100, 'x');
  // Small writes wait in the output's buffer; the flush finds that the device took nothing.
  EXPECT_EQ(output.Write(record.data(), record.size()), 100);
  EXPECT_EQ(output.Flush(), -1);
  EXPECT_TRUE(output.Failed());
  EXPECT_NE(output.Error().find("took 0 of 100"), std::string::npos) << output.Error();
  EXPECT_EQ(output.Write(record.data(), record.size()), -1);
  EXPECT_EQ(output.Flush(), -1);

  // A block as large as the output's buffer is written at once and fails at the write.
  Device second = OpenFile("/dev/full");
  DeviceOutput direct(second.get(), 1024);
  std::string block(4096, 'y');
  EXPECT_EQ(direct.Write(block.data(), block.size()), -1);
  EXPECT_TRUE(direct.Failed());
}

}  // namespace
}  // namespace varnel_test
