// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Device URI resolution: every CUPS URI form, with and without the CUPS library's resolver.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "monitor_fixture.h"
#include "url.h"

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

namespace {

struct Resolved {
  bool ok = false;
  std::string host;
  int port = -1;
  std::string log;
};

Resolved ResolvePlain(const std::string& uri) {
  Resolved result;
  char host[1024] = {0};
  CaptureStderr();
  result.ok = getPrinterHostNameFromUri(uri.c_str(), host, &result.port);
  result.log = GetCapturedStderr();
  result.host = host;
  return result;
}

Resolved ResolveDnssd(const std::string& uri) {
  Resolved result;
  char host[1024] = {0};
  CaptureStderr();
  result.ok = getPrinterHostNameFromDNSSDUri(uri.c_str(), host, &result.port) == 1;
  result.log = GetCapturedStderr();
  result.host = host;
  return result;
}

struct UriCase {
  const char* uri;
  const char* host;
  int port;
};

// Ordinary URIs name their host; a missing port is the scheme's default.
const UriCase kOrdinaryUris[] = {
    {"socket://127.0.0.1:9100", "127.0.0.1", 9100},
    {"socket://127.0.0.1", "127.0.0.1", 9100},
    {"socket://127.0.0.1:9101/", "127.0.0.1", 9101},
    {"ipp://127.0.0.1:631/printers/office", "127.0.0.1", 631},
    {"ipp://printer.example/ipp/print", "printer.example", 631},
    {"ipps://127.0.0.1:8443/ipp/print", "127.0.0.1", 8443},
    {"lpd://127.0.0.1/queue", "127.0.0.1", 515},
    {"socket://my%2Dprinter:9100", "my-printer", 9100},
};

enum class Resolver { kCupsLibrary, kVersionedNameOnly, kMissing };

std::string ResolverName(Resolver resolver) {
  switch (resolver) {
    case Resolver::kCupsLibrary: return "CupsLibrary";
    case Resolver::kVersionedNameOnly: return "VersionedNameOnly";
    default: return "Missing";
  }
}

void PrintTo(Resolver resolver, std::ostream* out) { *out << ResolverName(resolver); }

class UriResolutionTest : public MonitorTest, public testing::WithParamInterface<Resolver> {
 protected:
  void SetUp() override {
    MonitorTest::SetUp();
    switch (GetParam()) {
      case Resolver::kCupsLibrary:
        break;
      case Resolver::kVersionedNameOnly:  // a system without the development symlink
        gCupsLibraryNames[0] = "libvarnel-no-such-library.so";
        break;
      case Resolver::kMissing:
        gCupsLibraryNames[0] = "libvarnel-no-such-library.so";
        gCupsLibraryNames[1] = "libvarnel-no-such-library.so.2";
        break;
    }
  }
};

TEST_P(UriResolutionTest, OrdinaryUrisGiveTheirHostAndPort) {
  for (const auto& c : kOrdinaryUris) {
    for (bool dnssd_variant : {false, true}) {
      Resolved r = dnssd_variant ? ResolveDnssd(c.uri) : ResolvePlain(c.uri);
      SCOPED_TRACE(std::string(c.uri) + (dnssd_variant ? " (DNS-SD resolver)" : "") + "\n" + r.log);
      EXPECT_TRUE(r.ok);
      EXPECT_EQ(r.host, c.host);
      EXPECT_EQ(r.port, c.port);
      std::string success = ", host=" + std::string(c.host);
      if (dnssd_variant) success += ", port=" + std::to_string(c.port);
      EXPECT_NE(r.log.find("<dnssd> httpSeparateURI success.cupsret="), std::string::npos);
      EXPECT_NE(r.log.find(success + "\n"), std::string::npos);
    }
  }
}

TEST_P(UriResolutionTest, UnresolvableDnssdUriFailsAndLeavesTheHostEmpty) {
  const char* uri = "dnssd://No%20Such%20Printer._ipp._tcp.local./?uuid=00000000-0000-0000-0000-000000000000";
  for (bool dnssd_variant : {false, true}) {
    Resolved r = dnssd_variant ? ResolveDnssd(uri) : ResolvePlain(uri);
    SCOPED_TRACE(r.log);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.host, "");
    if (GetParam() != Resolver::kMissing) {
      EXPECT_NE(r.log.find("_httpResolveURI fail.\n"), std::string::npos);
    }
    EXPECT_EQ(r.log.find("httpSeparateURI success"), std::string::npos);
  }
}

TEST_P(UriResolutionTest, TellsWhichLibraryCouldNotBeOpened) {
  Resolved plain = ResolvePlain("socket://127.0.0.1");
  Resolved dnssd = ResolveDnssd("socket://127.0.0.1");
  bool plain_says = plain.log.find("can't open libcups file!\n") != std::string::npos;
  bool first_says = dnssd.log.find("libcups.so open fail.\n") != std::string::npos;
  bool second_says = dnssd.log.find("libcups.so.2 open fail.\n") != std::string::npos;
  EXPECT_EQ(plain_says, GetParam() == Resolver::kMissing) << plain.log;
  EXPECT_EQ(first_says, GetParam() != Resolver::kCupsLibrary) << dnssd.log;
  EXPECT_EQ(second_says, GetParam() == Resolver::kMissing) << dnssd.log;
  // Through the resolver the URI comes back unchanged and is logged; without it, it is not.
  EXPECT_EQ(plain.log.find("<dnssd> resolvedURI : socket://127.0.0.1\n") != std::string::npos,
            GetParam() != Resolver::kMissing)
      << plain.log;
}

INSTANTIATE_TEST_SUITE_P(Resolvers, UriResolutionTest,
                         testing::Values(Resolver::kCupsLibrary, Resolver::kVersionedNameOnly, Resolver::kMissing),
                         [](const testing::TestParamInfo<Resolver>& info) {
                           return ResolverName(info.param);
                         });

class UriResolutionFailures : public MonitorTest {};

TEST_F(UriResolutionFailures, ABadUriLeavesTheOutputsAsTheyWere) {
  struct Case {
    bool with_resolver;
    const char* message;
  } cases[] = {{true, "_httpResolveURI fail.\n"}, {false, "<dnssd> httpSeparateURI fail. cupsret="}};
  for (const auto& c : cases) {
    gCupsLibraryNames[0] = c.with_resolver ? "libcups.so.2" : "libvarnel-no-such-library.so";
    gCupsLibraryNames[1] = nullptr;
    char host[1024] = "keep";
    int port = 7;
    CaptureStderr();
    EXPECT_FALSE(getPrinterHostNameFromUri("socket://[", host, &port));
    std::string log = GetCapturedStderr();
    EXPECT_STREQ(host, "keep");
    EXPECT_EQ(port, 7);
    EXPECT_NE(log.find(c.message), std::string::npos) << log;
  }
}

TEST_F(UriResolutionFailures, HostNamesTurnIntoAddresses) {
  char ip[256] = {0};
  EXPECT_EQ(GetIpByHostname("localhost", ip), 0);
  EXPECT_STREQ(ip, "127.0.0.1");
  char numeric[256] = {0};
  EXPECT_EQ(GetIpByHostname("127.0.0.2", numeric), 0);
  EXPECT_STREQ(numeric, "127.0.0.2");

  std::string name = UnresolvableHostName();
  char untouched[256] = "unchanged";
  CaptureStderr();
  EXPECT_EQ(GetIpByHostname(name.c_str(), untouched), 1);
  std::string log = GetCapturedStderr();
  EXPECT_STREQ(untouched, "unchanged");
  EXPECT_NE(log.find("gethostbyname error for host:" + name + "\n"), std::string::npos) << log;
}

}  // namespace
