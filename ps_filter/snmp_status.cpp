// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
#include "snmp_status.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <vector>

const unsigned char gSnmpStatusRequest[kSnmpStatusRequestLength] = {
    0x30, 0x2B,                                      // SEQUENCE, 43 bytes
    0x02, 0x01, 0x00,                                // version 1 (0)
    0x04, 0x06, 't', 'u', 'l', 'i', 'p', 'a',        // community
    0xA0, 0x1E,                                      // GetRequest PDU, 30 bytes
    0x02, 0x01, 0x00,                                // request-id
    0x02, 0x01, 0x00,                                // error-status
    0x02, 0x01, 0x00,                                // error-index
    0x30, 0x13,                                      // variable-bindings
    0x30, 0x11,                                      // one binding
    0x06, 0x0D, 0x2B, 0x06, 0x01, 0x04, 0x01, 0x81,  // OID 1.3.6.1.4.1.32473.1.1.3.16.2
    0xFD, 0x59, 0x01, 0x01, 0x03, 0x10, 0x02,        //
    0x05, 0x00,                                      // value NULL
};

namespace {

constexpr uint16_t kSnmpPort = 161;
constexpr int kSendAttempts = 3;
constexpr int kReceivesPerAttempt = 2;
constexpr int kReceiveTimeoutSeconds = 2;

// Closes the socket whichever way the query ends.
class UdpSocket {
 public:
  UdpSocket() : fd_(socket(AF_INET, SOCK_DGRAM, 0)) {}
  ~UdpSocket() {
    if (fd_ >= 0) close(fd_);
  }
  UdpSocket(const UdpSocket&) = delete;
  UdpSocket& operator=(const UdpSocket&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_;
};

// The printer's IPv4 address. A name that does not resolve, or text that is no address, gives
// false: sending to 0.0.0.0 would ask this host, and 255.255.255.255 the whole network.
bool PrinterAddress(const char* ip, in_addr* address) {
  if (inet_pton(AF_INET, ip, address) == 1) return true;
  if (!isalpha(static_cast<unsigned char>(ip[0]))) {
    fprintf(stderr, "<SNMP> not an IPv4 address: %s\n", ip);
    return false;
  }
  hostent entry;
  hostent* result = nullptr;
  std::vector<char> work(8192);
  int error = 0;
  if (gethostbyname_r(ip, &entry, work.data(), work.size(), &result, &error) != 0 || result == nullptr ||
      result->h_addrtype != AF_INET || result->h_addr_list[0] == nullptr) {
    fprintf(stderr, "gethostbyname error for host:%s\n", ip);
    return false;
  }
  memcpy(address, result->h_addr_list[0], sizeof *address);
  return true;
}

void PrepareSocket(int fd) {
  int broadcast = 1;
  setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &broadcast, sizeof broadcast);
  timeval timeout = {kReceiveTimeoutSeconds, 0};
  if (setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout) != 0) fputs("setsockopt fail", stderr);
  sockaddr_in local = {};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_ANY);
  local.sin_port = 0;
  bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local);
}

}  // namespace

bool QueryStatusToNet(const char* ip, unsigned char* reply, int* n_out) {
  fputs("->SendSNMPCmd()\n", stderr);
  if (ip == nullptr) {
    fputs("cancelthread::QueryStatusToNet::pIPaddr is null\n", stderr);
    return false;
  }
  if (reply == nullptr || n_out == nullptr) return false;
  sockaddr_in printer = {};
  printer.sin_family = AF_INET;
  printer.sin_port = htons(kSnmpPort);
  if (!PrinterAddress(ip, &printer.sin_addr)) {
    fputs("<-SendSNMPCmd()\n", stderr);
    return false;
  }
  UdpSocket udp;
  if (udp.fd() < 0) {
    perror("<SNMP> socket");
    return false;
  }
  PrepareSocket(udp.fd());
  char dest_text[INET_ADDRSTRLEN] = {0};
  inet_ntop(AF_INET, &printer.sin_addr, dest_text, sizeof dest_text);
  for (int attempt = 0; attempt < kSendAttempts; ++attempt) {
    ssize_t sent = sendto(udp.fd(), gSnmpStatusRequest, sizeof gSnmpStatusRequest, 0,
                          reinterpret_cast<sockaddr*>(&printer), sizeof printer);
    if (sent != static_cast<ssize_t>(sizeof gSnmpStatusRequest)) {
      fprintf(stderr, "<SNMP> socket sendto error. (dest_addr=%s)\n", dest_text);
      continue;
    }
    fprintf(stderr, "<SNMP> socket sendto success. (dest_addr=%s)\n", dest_text);
    for (int receive = 0; receive < kReceivesPerAttempt; ++receive) {
      ssize_t received = recv(udp.fd(), reply, kSnmpReplyBufferSize, 0);
      *n_out = static_cast<int>(received);
      fprintf(stderr, "nRecv = %d\n", *n_out);
      if (received > 0) return true;
    }
  }
  fputs("<-SendSNMPCmd()\n", stderr);
  return false;
}
