// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// The network status query against a fake printer on 127.0.0.1:161, and what its replies mean.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>

#include "cancel_status.h"
#include "fake_snmp_printer.h"
#include "monitor_fixture.h"
#include "snmp_status.h"

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;
using varnel_test::FakeSnmpPrinter;
using varnel_test::LocalHostName;

namespace {

const std::string kExpectedRequest(
    "\x30\x2B\x02\x01\x00\x04\x06tulipa\xA0\x1E\x02\x01\x00\x02\x01\x00\x02\x01\x00"
    "\x30\x13\x30\x11\x06\x0D\x2B\x06\x01\x04\x01\x81\xFD\x59\x01\x01\x03\x10\x02\x05\x00",
    45);

class SnmpStatusTest : public MonitorTest {
 protected:
  void SetUp() override {
    MonitorTest::SetUp();
    host_ = LocalHostName();
    ASSERT_FALSE(host_.empty());
  }
  std::string host_;
};

#define ASSERT_LISTENING(printer) \
  ASSERT_TRUE((printer).listening()) << "cannot bind UDP 127.0.0.1:161: " << (printer).bind_error()

TEST_F(SnmpStatusTest, SendsTheGetRequestAndHandsBackTheReply) {
  std::string answer = FakeSnmpPrinter::StatusReply(0x07, host_, 80);
  FakeSnmpPrinter printer({answer});
  ASSERT_LISTENING(printer);
  unsigned char reply[kSnmpReplyBufferSize];
  memset(reply, 0, sizeof reply);
  int received = 0;
  CaptureStderr();
  bool ok = QueryStatusToNet("127.0.0.1", reply, &received);
  std::string log = GetCapturedStderr();
  ASSERT_TRUE(ok) << log;
  ASSERT_EQ(printer.requests().size(), 1u);
  EXPECT_EQ(printer.requests()[0], kExpectedRequest);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(gSnmpStatusRequest), 45), kExpectedRequest);
  ASSERT_EQ(received, 80);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(reply), 80), answer);
  EXPECT_NE(log.find("->SendSNMPCmd()\n<SNMP> socket sendto success. (dest_addr=127.0.0.1)\nnRecv = 80\n"),
            std::string::npos)
      << log;
}

TEST_F(SnmpStatusTest, AHostNameIsLookedUpAndBadAddressesAreNotUsed) {
  FakeSnmpPrinter printer({FakeSnmpPrinter::StatusReply(0x07, host_)});
  ASSERT_LISTENING(printer);
  unsigned char reply[kSnmpReplyBufferSize] = {0};
  int received = 0;
  CaptureStderr();
  EXPECT_TRUE(QueryStatusToNet("localhost", reply, &received));
  GetCapturedStderr();
  EXPECT_EQ(received, 60);

  // Neither 0.0.0.0 (this host) nor 255.255.255.255 (the whole network) stands in for a printer.
  std::string unresolvable = UnresolvableHostName();
  for (const char* bad : {unresolvable.c_str(), "1.2.3.4.5", "[::1]"}) {
    CaptureStderr();
    EXPECT_FALSE(QueryStatusToNet(bad, reply, &received)) << bad;
    GetCapturedStderr();
  }
  CaptureStderr();
  EXPECT_FALSE(QueryStatusToNet(nullptr, reply, &received));
  EXPECT_NE(GetCapturedStderr().find("cancelthread::QueryStatusToNet::pIPaddr is null\n"), std::string::npos);
  EXPECT_EQ(printer.requests().size(), 1u);
}

// What the printer answers, and whether that cancels the job of this host.
struct ReplyCase {
  const char* name;
  unsigned char code;
  bool own_host;          // owner text names this host (else another one)
  size_t length;          // datagram length
  bool cancels;
};

const ReplyCase kReplies[] = {
    {"cancel 0x06, our host", 0x06, true, 60, true},
    {"cancel 0x86, our host", 0x86, true, 60, true},
    {"cancel in a longer reply", 0x06, true, 200, true},
    {"other status 0x07", 0x07, true, 60, false},
    {"status 0x00", 0x00, true, 60, false},
    {"cancel of another host's job", 0x06, false, 60, false},
    {"59 bytes", 0x06, true, 59, false},
};

TEST_F(SnmpStatusTest, OnlyACancelOfThisHostsJobCounts) {
  for (const auto& c : kReplies) {
    SCOPED_TRACE(c.name);
    std::string owner = c.own_host ? "JOB OF " + host_ : std::string("other-workstation");
    FakeSnmpPrinter printer({FakeSnmpPrinter::StatusReply(c.code, owner, c.length)});
    ASSERT_LISTENING(printer);
    unsigned char reply[kSnmpReplyBufferSize] = {0};
    int received = 0;
    CaptureStderr();
    bool ok = QueryStatusToNet("127.0.0.1", reply, &received);
    GetCapturedStderr();
    ASSERT_TRUE(ok);
    ASSERT_EQ(received, static_cast<int>(c.length));
    EXPECT_EQ(isCancelReplyForOwner(reply, received, host_.c_str()), c.cancels);
  }
}

TEST(CancelRecord, OwnerIsMatchedIgnoringCaseAndOnlyInsideTheRecord) {
  auto record = [](unsigned char code, const std::string& text) {
    std::string r(60, '\0');
    r[0] = static_cast<char>(code);
    r.replace(4, text.size(), text);
    return r;
  };
  auto cancels = [](const std::string& reply, const char* owner) {
    return isCancelReplyForOwner(reinterpret_cast<const unsigned char*>(reply.data()),
                                 static_cast<int>(reply.size()), owner);
  };
  EXPECT_TRUE(cancels(record(0x06, "WORKSTATION-7"), "workstation-7"));
  EXPECT_FALSE(cancels(record(0x06, std::string("work\0station-7", 14)), "workstation-7"));
  EXPECT_FALSE(cancels(record(0x06, "anything"), ""));
  // Owner text running to the record's very end, no NUL: the match stops at the record.
  std::string full = record(0x86, std::string(54, 'a') + "vm");
  EXPECT_TRUE(cancels(full, "vm"));
  // A record whose text ends in "v" at its last byte, followed in memory by "m": a NUL-terminated
  // read would run on past the record and find "vm".
  std::string cut = record(0x86, std::string(55, 'a') + "v");
  std::string memory = cut + "m";
  EXPECT_FALSE(isCancelReplyForOwner(reinterpret_cast<const unsigned char*>(memory.data()), 60, "vm"));
  std::unique_ptr<unsigned char[]> exact(new unsigned char[60]);
  memcpy(exact.get(), cut.data(), 60);
  EXPECT_FALSE(isCancelReplyForOwner(exact.get(), 60, "vm"));  // ASan sees any read past the 60 bytes
  EXPECT_TRUE(isCancelReplyForOwner(exact.get(), 60, "AV"));
}

TEST_F(SnmpStatusTest, ASilentPrinterCostsThreeAttemptsOfTwoReceives) {
  FakeSnmpPrinter printer({std::nullopt});
  ASSERT_LISTENING(printer);
  unsigned char reply[kSnmpReplyBufferSize] = {0};
  int received = 0;
  auto start = std::chrono::steady_clock::now();
  CaptureStderr();
  bool ok = QueryStatusToNet("127.0.0.1", reply, &received);
  std::string log = GetCapturedStderr();
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_FALSE(ok);
  EXPECT_EQ(received, -1);
  EXPECT_EQ(printer.requests().size(), 3u);
  EXPECT_GE(seconds, 11.5);
  EXPECT_LE(seconds, 13.5);
  size_t receives = 0;
  for (size_t at = log.find("nRecv = -1\n"); at != std::string::npos; at = log.find("nRecv = -1\n", at + 1)) ++receives;
  EXPECT_EQ(receives, 6u) << log;
  EXPECT_NE(log.find("<-SendSNMPCmd()\n"), std::string::npos);
}

}  // namespace
