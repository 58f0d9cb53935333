// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// The printer's status over the network: an SNMPv1 GetRequest to UDP port 161.
#pragma once

constexpr int kSnmpStatusRequestLength = 45;
constexpr int kSnmpReplyBufferSize = 1024;

// The GetRequest, community "tulipa", for the private status object
// 1.3.6.1.4.1.32473.1.1.3.16.2 (the enterprise arc is per product).
extern const unsigned char gSnmpStatusRequest[kSnmpStatusRequestLength];

// Sends the request to ip (dotted IPv4 text or a host name) and waits for a reply: 3 attempts of
// 2 receives with a 2 s time-out each. true when a reply of *n_out bytes is in reply (which holds
// kSnmpReplyBufferSize bytes).
bool QueryStatusToNet(const char* ip, unsigned char* reply, int* n_out);
