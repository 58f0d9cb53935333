// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Device URI helpers.
#include "url.h"

#include <arpa/inet.h>
#include <cups/http.h>
#include <dlfcn.h>
#include <netdb.h>
#include <strings.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

const char* gCupsLibraryNames[2] = {"libcups.so", "libcups.so.2"};
HttpResolveUriFunction pfhttpResolveURIOverride = nullptr;

int hex2dec(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void urldecode(char* text) {
  if (text == nullptr) return;
  size_t length = strlen(text);
  std::string decoded;
  decoded.reserve(length);
  for (size_t i = 0; i < length; ++i) {
    if (text[i] == '%' && i + 2 < length) {
      decoded.push_back(static_cast<char>(hex2dec(text[i + 1]) * 16 + hex2dec(text[i + 2])));
      i += 2;
    } else {
      decoded.push_back(text[i]);
    }
  }
  memcpy(text, decoded.c_str(), decoded.size() + 1);
}

namespace {

constexpr size_t kUriPartSize = 1024;
constexpr int kResolveOptions = 15;

// Messages that differ between the two public resolvers.
struct ResolverWording {
  const char* first_open_failed;  // after the unversioned name failed (nullptr: say nothing)
  const char* open_failed;        // after every name failed
  bool success_names_port;
};

const ResolverWording kPlainWording = {nullptr, "can't open libcups file!\n", false};
const ResolverWording kDnssdWording = {"libcups.so open fail.\n", "libcups.so.2 open fail.\n", true};

// The CUPS library opened at run time, closed again when the object goes.
class CupsLibrary {
 public:
  explicit CupsLibrary(const ResolverWording& wording) {
    for (size_t i = 0; i < sizeof gCupsLibraryNames / sizeof gCupsLibraryNames[0]; ++i) {
      if (gCupsLibraryNames[i] == nullptr) continue;
      handle_ = dlopen(gCupsLibraryNames[i], RTLD_LAZY);
      if (handle_ != nullptr) return;
      if (i == 0 && wording.first_open_failed != nullptr) fputs(wording.first_open_failed, stderr);
    }
    fputs(wording.open_failed, stderr);
  }
  ~CupsLibrary() {
    if (handle_ != nullptr) dlclose(handle_);
  }
  CupsLibrary(const CupsLibrary&) = delete;
  CupsLibrary& operator=(const CupsLibrary&) = delete;

  HttpResolveUriFunction FindResolver() const {
    if (handle_ == nullptr) return nullptr;
    void* symbol = dlsym(handle_, "_httpResolveURI");
    if (symbol == nullptr) {
      fputs("_httpResolveURI addr get fail.\n", stderr);
      return nullptr;
    }
    return reinterpret_cast<HttpResolveUriFunction>(symbol);
  }

 private:
  void* handle_ = nullptr;
};

// A DNS-SD URI names a service, not a host; only the resolver can turn it into one.
bool isDnssdUri(const char* uri) {
  return strncasecmp(uri, "dnssd://", 8) == 0 || strstr(uri, "._tcp") != nullptr ||
         strstr(uri, "._udp") != nullptr;
}

bool SeparateResolvedUri(const char* resolved, const ResolverWording& wording, char* host_out,
                         int* port_out) {
  std::vector<char> scheme(kUriPartSize), user(kUriPartSize), host(kUriPartSize), resource(kUriPartSize);
  int port = 0;
  int cupsret = httpSeparateURI(static_cast<http_uri_coding_t>(kResolveOptions), resolved, scheme.data(),
                                kUriPartSize, user.data(), kUriPartSize, host.data(), kUriPartSize, &port,
                                resource.data(), kUriPartSize);
  if (cupsret < 0) {
    fprintf(stderr, "<dnssd> httpSeparateURI fail. cupsret=%d\n", cupsret);
    return false;
  }
  if (wording.success_names_port) {
    fprintf(stderr, "<dnssd> httpSeparateURI success.cupsret=%d, host=%s, port=%d\n", cupsret, host.data(), port);
  } else {
    fprintf(stderr, "<dnssd> httpSeparateURI success.cupsret=%d, host=%s\n", cupsret, host.data());
  }
  *port_out = port;
  size_t used = strnlen(host_out, kUriPartSize - 1);
  strncat(host_out, host.data(), kUriPartSize - 1 - used);
  return true;
}

bool ResolveWith(HttpResolveUriFunction resolve, const char* uri, char* host_out, int* port_out,
                 const ResolverWording& wording) {
  std::vector<char> resolved(kUriPartSize, '\0');
  if (resolve(uri, resolved.data(), kUriPartSize, kResolveOptions, nullptr, nullptr) == nullptr) {
    fputs("_httpResolveURI fail.\n", stderr);
    return false;
  }
  fprintf(stderr, "<dnssd> resolvedURI : %s\n", resolved.data());
  return SeparateResolvedUri(resolved.data(), wording, host_out, port_out);
}

bool ResolveDeviceUri(const char* uri, char* host_out, int* port_out, const ResolverWording& wording) {
  if (uri == nullptr || host_out == nullptr || port_out == nullptr) return false;
  if (pfhttpResolveURIOverride != nullptr)
    return ResolveWith(pfhttpResolveURIOverride, uri, host_out, port_out, wording);
  CupsLibrary library(wording);
  HttpResolveUriFunction resolve = library.FindResolver();
  if (resolve == nullptr) {
    // Without the resolver an ordinary URI still names its host directly.
    if (isDnssdUri(uri)) return false;
    return SeparateResolvedUri(uri, wording, host_out, port_out);
  }
  return ResolveWith(resolve, uri, host_out, port_out, wording);
}

}  // namespace

bool getPrinterHostNameFromUri(const char* uri, char* host_out, int* port_out) {
  return ResolveDeviceUri(uri, host_out, port_out, kPlainWording);
}

int getPrinterHostNameFromDNSSDUri(const char* uri, char* host_out, int* port_out) {
  return ResolveDeviceUri(uri, host_out, port_out, kDnssdWording) ? 1 : 0;
}

int GetIpByHostname(const char* name, char* ip_out) {
  if (name == nullptr || ip_out == nullptr) return 1;
  hostent entry;
  hostent* result = nullptr;
  std::vector<char> work(8192);
  int error = 0;
  if (gethostbyname_r(name, &entry, work.data(), work.size(), &result, &error) != 0 || result == nullptr ||
      result->h_addr_list[0] == nullptr) {
    fprintf(stderr, "gethostbyname error for host:%s\n", name);
    return 1;
  }
  if (result->h_addrtype == AF_INET || result->h_addrtype == AF_INET6) {
    inet_ntop(result->h_addrtype, result->h_addr_list[0], ip_out, 256);
  } else {
    fputs("unknown address type\n", stderr);
  }
  return 0;
}
