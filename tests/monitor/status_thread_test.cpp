// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// The status thread on network queues: from the device URI to a cancel reported by a fake printer.
#include <gtest/gtest.h>
#include <pthread.h>

#include <chrono>
#include <cstring>
#include <string>

#include "common.h"
#include "fake_snmp_printer.h"
#include "monitor_fixture.h"
#include "printerCanel.h"
#include "url.h"

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;
using varnel_test::FakeSnmpPrinter;
using varnel_test::LocalHostName;

namespace {

const std::string kThreadExitText = "Job cancel, Status thread exit.\n";

class StatusThreadTest : public MonitorTest {
 protected:
  void SetUp() override {
    MonitorTest::SetUp();
    host_ = LocalHostName();
    ASSERT_FALSE(host_.empty());
  }

  // Runs the thread as the filter starts it and waits for it to end; only for cases that end.
  std::string RunThread(const std::string& uri, std::string* log) {
    cancel_query_arg arg;
    memset(&arg, 0, sizeof arg);
    strncpy(arg.device_uri, uri.c_str(), sizeof arg.device_uri - 1);
    arg.job_id = 12;
    strncpy(arg.job_owner, host_.c_str(), sizeof arg.job_owner - 1);
    pthread_t thread;
    CaptureStderr();
    if (pthread_create(&thread, nullptr, Printer_cancle_query_tread, &arg) != 0) {
      *log = GetCapturedStderr();
      ADD_FAILURE() << "pthread_create failed";
      return std::string();
    }
    void* result = nullptr;
    pthread_join(thread, &result);
    *log = GetCapturedStderr();
    return result != nullptr ? static_cast<const char*>(result) : "(null)";
  }

  std::string Cancel() const { return FakeSnmpPrinter::StatusReply(0x06, host_); }
  std::string host_;
};

#define ASSERT_LISTENING(printer) \
  ASSERT_TRUE((printer).listening()) << "cannot bind UDP 127.0.0.1:161: " << (printer).bind_error()

TEST_F(StatusThreadTest, NetworkQueuesOfEveryKindReachThePrinter) {
  const char* uris[] = {
      "socket://127.0.0.1:9100", "socket://127.0.0.1", "ipp://127.0.0.1:631/printers/office",
      "ipp://localhost/ipp/print", "lpd://127.0.0.1/queue",
  };
  for (bool without_resolver : {false, true}) {
    if (without_resolver) {
      gCupsLibraryNames[0] = "libvarnel-no-such-library.so";
      gCupsLibraryNames[1] = nullptr;
    }
    for (const char* uri : uris) {
      SCOPED_TRACE(std::string(uri) + (without_resolver ? " without the resolver" : ""));
      job_canceled = 0;
      FakeSnmpPrinter printer({Cancel()});
      ASSERT_LISTENING(printer);
      std::string log;
      EXPECT_EQ(RunThread(uri, &log), kThreadExitText) << log;
      EXPECT_EQ(job_canceled.load(), 1);
      EXPECT_EQ(printer.requests().size(), 1u);
      EXPECT_NE(log.find("querythread::net\n"), std::string::npos) << log;
      bool logged_address = log.find("ip:127.0.0.1\n") != std::string::npos ||
                            log.find("ip:localhost\n") != std::string::npos;
      EXPECT_TRUE(logged_address) << log;
    }
  }
}

TEST_F(StatusThreadTest, RepliesThatAreNoCancelOfOurJobAreIgnored) {
  FakeSnmpPrinter printer({
      FakeSnmpPrinter::StatusReply(0x07, host_),
      FakeSnmpPrinter::StatusReply(0x06, "other-workstation"),
      FakeSnmpPrinter::StatusReply(0x86, host_, 59),
      FakeSnmpPrinter::StatusReply(0x86, host_, 300),
  });
  ASSERT_LISTENING(printer);
  std::string log;
  EXPECT_EQ(RunThread("socket://127.0.0.1:9100", &log), kThreadExitText);
  EXPECT_EQ(job_canceled.load(), 1);
  EXPECT_EQ(printer.requests().size(), 4u);
}

TEST_F(StatusThreadTest, ASilentPrinterCostsOnePollAndPollingGoesOn) {
  FakeSnmpPrinter printer({std::nullopt, std::nullopt, std::nullopt, Cancel()});
  ASSERT_LISTENING(printer);
  auto start = std::chrono::steady_clock::now();
  std::string log;
  EXPECT_EQ(RunThread("socket://127.0.0.1:9100", &log), kThreadExitText);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(job_canceled.load(), 1);
  EXPECT_EQ(printer.requests().size(), 4u);
  EXPECT_GE(seconds, 11.5);
  EXPECT_LE(seconds, 14.0);
}

// The resolver of a DNS-SD service, as a test decides it.
std::string g_resolved_uri;
const char* FakeResolver(const char*, char* resolved, size_t size, int, int (*)(void*), void*) {
  if (g_resolved_uri.empty()) return nullptr;
  snprintf(resolved, size, "%s", g_resolved_uri.c_str());
  return resolved;
}

TEST_F(StatusThreadTest, ADnssdHostWithoutPortIsLookedUpByName) {
  pfhttpResolveURIOverride = FakeResolver;
  g_resolved_uri = "dnssd://localhost/";
  FakeSnmpPrinter printer({Cancel()});
  ASSERT_LISTENING(printer);
  std::string log;
  EXPECT_EQ(RunThread("dnssd://Office%20Printer._pdl-datastream._tcp.local./", &log), kThreadExitText) << log;
  EXPECT_EQ(job_canceled.load(), 1);
  EXPECT_NE(log.find("ip:127.0.0.1\n"), std::string::npos) << log;
}

TEST_F(StatusThreadTest, DnssdUrisThatLeadNowhereEndTheThreadQuietly) {
  struct Case {
    const char* name;
    std::string resolved;  // empty: the resolver fails
    const char* message;   // expected in the log, nullptr for none
  } cases[] = {
      {"host name does not resolve", "dnssd://" + UnresolvableHostName() + "/", "supply host to ip failed\n"},
      {"service does not resolve", "", nullptr},
  };
  pfhttpResolveURIOverride = FakeResolver;
  FakeSnmpPrinter printer({Cancel()});
  ASSERT_LISTENING(printer);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    g_resolved_uri = c.resolved;
    std::string log;
    EXPECT_EQ(RunThread("dnssd://Office%20Printer._pdl-datastream._tcp.local./", &log), "(null)");
    if (c.message != nullptr) {
      EXPECT_NE(log.find(c.message), std::string::npos) << log;
    }
    EXPECT_EQ(log.find("ip:"), std::string::npos) << log;
  }
  // The real resolver, with a service that nobody announces.
  pfhttpResolveURIOverride = nullptr;
  std::string log;
  EXPECT_EQ(RunThread("dnssd://No%20Such%20Printer._ipp._tcp.local./?uuid=0", &log), "(null)");
  EXPECT_EQ(log.find("ip:"), std::string::npos) << log;
  EXPECT_EQ(job_canceled.load(), 0);
  EXPECT_TRUE(printer.requests().empty());
}

}  // namespace
