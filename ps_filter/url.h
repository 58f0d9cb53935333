// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Device URI helpers: percent-decoding and the resolution of a CUPS device URI to a host.
#pragma once

#include <cstddef>

// Decodes %XX escapes in place. A "%" too close to the end of the text is copied as it is.
void urldecode(char* text);
// '0'-'9', 'a'-'f', 'A'-'F' give their value; anything else -1.
int hex2dec(char c);

// Resolves a device URI (DNS-SD ones through the CUPS library's resolver) and appends its host to
// host_out (a zeroed buffer of 1024 bytes); the port goes to *port_out. 1 on success, 0 on failure
// (host_out is then left as it was). An ordinary URI is still separated when the resolver cannot be
// found, so socket, IPP and LPD queues work without it.
bool getPrinterHostNameFromUri(const char* uri, char* host_out, int* port_out);
// The same for "dnssd://" URIs; its success line also names the port.
int getPrinterHostNameFromDNSSDUri(const char* uri, char* host_out, int* port_out);
// Writes the first address of name, as text, to ip_out (at least 256 bytes). 0 when the name
// resolved, 1 when it did not.
int GetIpByHostname(const char* name, char* ip_out);

// The CUPS library's private resolver, as it is called.
typedef const char* (*HttpResolveUriFunction)(const char* uri, char* resolved_uri, size_t resolved_size,
                                              int options, int (*callback)(void* data), void* data);
// Library files searched in turn for the resolver. Tests point them elsewhere.
extern const char* gCupsLibraryNames[2];
// When set, used instead of the resolver looked up in the library (tests).
extern HttpResolveUriFunction pfhttpResolveURIOverride;
