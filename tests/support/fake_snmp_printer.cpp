// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
#include "fake_snmp_printer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace varnel_test {

FakeSnmpPrinter::FakeSnmpPrinter(std::vector<std::optional<std::string>> replies) : replies_(std::move(replies)) {
  int fd = socket(AF_INET, SOCK_DGRAM, 0);
  if (fd < 0) {
    bind_error_ = strerror(errno);
    return;
  }
  int reuse = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(161);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    bind_error_ = strerror(errno);
    close(fd);
    return;
  }
  fd_ = fd;
  server_ = std::thread(&FakeSnmpPrinter::Serve, this);
}

FakeSnmpPrinter::~FakeSnmpPrinter() {
  stop_ = true;
  if (server_.joinable()) server_.join();
  if (fd_ >= 0) close(fd_);
}

void FakeSnmpPrinter::Serve() {
  while (!stop_) {
    pollfd waiting = {fd_, POLLIN, 0};
    if (poll(&waiting, 1, 20) <= 0) continue;
    char datagram[2048];
    sockaddr_in sender = {};
    socklen_t sender_length = sizeof sender;
    ssize_t length = recvfrom(fd_, datagram, sizeof datagram, 0, reinterpret_cast<sockaddr*>(&sender), &sender_length);
    if (length < 0) continue;
    std::optional<std::string> reply;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      size_t index = requests_.size();
      requests_.emplace_back(datagram, static_cast<size_t>(length));
      if (!replies_.empty()) reply = replies_[index < replies_.size() ? index : replies_.size() - 1];
    }
    if (reply) {
      sendto(fd_, reply->data(), reply->size(), 0, reinterpret_cast<sockaddr*>(&sender), sender_length);
      std::lock_guard<std::mutex> lock(mutex_);
      ++replies_sent_;
    }
    changed_.notify_all();
  }
}

std::vector<std::string> FakeSnmpPrinter::requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

size_t FakeSnmpPrinter::replies_sent() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return replies_sent_;
}

bool FakeSnmpPrinter::WaitForRequests(size_t count, int timeout_ms) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] { return requests_.size() >= count; });
}

bool FakeSnmpPrinter::WaitForReplies(size_t count, int timeout_ms) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] { return replies_sent_ >= count; });
}

std::string FakeSnmpPrinter::StatusReply(unsigned char code, const std::string& owner, size_t total_length) {
  std::string record(60, '\0');
  record[0] = static_cast<char>(code);
  record.replace(4, std::min<size_t>(owner.size(), 56), owner.substr(0, 56));
  if (total_length < record.size()) return record.substr(0, total_length);
  // Whatever the agent puts before the record (here a bogus SNMP header) must not matter.
  std::string reply(total_length - record.size(), '\x30');
  return reply + record;
}

std::string LocalHostName() {
  char name[256] = {0};
  if (gethostname(name, sizeof name - 1) != 0) return std::string();
  return name;
}

}  // namespace varnel_test
