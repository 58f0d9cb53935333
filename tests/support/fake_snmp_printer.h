// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// A printer's SNMP agent on 127.0.0.1 port 161, as far as the status thread of pstoVarnel needs it:
// it records every datagram it receives and answers each with a reply chosen by the test.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace varnel_test {

class FakeSnmpPrinter {
 public:
  // Reply plan: request i is answered with replies[i] (the last entry answers all later requests);
  // std::nullopt leaves that request unanswered.
  explicit FakeSnmpPrinter(std::vector<std::optional<std::string>> replies);
  ~FakeSnmpPrinter();
  FakeSnmpPrinter(const FakeSnmpPrinter&) = delete;
  FakeSnmpPrinter& operator=(const FakeSnmpPrinter&) = delete;

  // False when port 161 could not be bound (then nothing is served); bind_error() says why.
  bool listening() const { return fd_ >= 0; }
  const std::string& bind_error() const { return bind_error_; }

  std::vector<std::string> requests() const;
  size_t replies_sent() const;
  // Wait until at least count requests came in / replies went out; false after timeout_ms.
  bool WaitForRequests(size_t count, int timeout_ms) const;
  bool WaitForReplies(size_t count, int timeout_ms) const;

  // A reply datagram of total_length bytes ending in a 60-byte status record: code at byte 0 and
  // owner (NUL-terminated when it fits) from byte 4. A shorter total is the record cut short.
  static std::string StatusReply(unsigned char code, const std::string& owner, size_t total_length = 60);

 private:
  void Serve();

  std::vector<std::optional<std::string>> replies_;
  int fd_ = -1;
  std::string bind_error_;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<std::string> requests_;
  size_t replies_sent_ = 0;
  std::thread server_;
};

// This host's name as gethostname gives it (the owner the printer reports for our jobs).
std::string LocalHostName();

}  // namespace varnel_test
