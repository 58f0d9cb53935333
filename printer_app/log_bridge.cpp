// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// The server's standard error as PAPPL log lines.
#include "log_bridge.h"

#include <cstdio>
#include <cstring>
#include <mutex>

namespace {

std::mutex gLock;  // guards everything below
pappl_system_t* gSystem = nullptr;
LOG_LINE_CB gCallback = nullptr;
void* gContext = nullptr;
std::string gPartial;  // text after the last line feed

void EmitLocked(const std::string& line) {
  std::string text;
  pappl_loglevel_t level = ParseLogLine(line, &text);
  if (gCallback != nullptr)
    gCallback(gContext, level, text.c_str());
  else if (gSystem != nullptr)
    papplLog(gSystem, level, "%s", text.c_str());
}

ssize_t WriteLines(void*, const char* data, size_t size) {
  std::lock_guard<std::mutex> hold(gLock);
  try {
    gPartial.append(data, size);
    size_t start = 0;
    for (size_t end; (end = gPartial.find('\n', start)) != std::string::npos; start = end + 1)
      EmitLocked(gPartial.substr(start, end - start));
    gPartial.erase(0, start);
  } catch (...) {
    gPartial.clear();  // a line lost is better than an exception through stdio
  }
  return static_cast<ssize_t>(size);
}

}  // namespace

pappl_loglevel_t ParseLogLine(const std::string& line, std::string* text) {
  static const struct {
    const char* prefix;
    pappl_loglevel_t level;
  } kPrefixes[] = {{"DEBUG:", PAPPL_LOGLEVEL_DEBUG}, {"DEBUG2:", PAPPL_LOGLEVEL_DEBUG},
                   {"INFO:", PAPPL_LOGLEVEL_INFO},   {"NOTICE:", PAPPL_LOGLEVEL_INFO},
                   {"PAGE:", PAPPL_LOGLEVEL_DEBUG},  {"WARNING:", PAPPL_LOGLEVEL_WARN},
                   {"ERROR:", PAPPL_LOGLEVEL_ERROR}, {"CRIT:", PAPPL_LOGLEVEL_ERROR}};
  for (const auto& entry : kPrefixes) {
    size_t length = strlen(entry.prefix);
    if (line.compare(0, length, entry.prefix) == 0) {
      size_t start = line.find_first_not_of(' ', length);
      *text = start == std::string::npos ? "" : line.substr(start);
      return entry.level;
    }
  }
  *text = line;
  return PAPPL_LOGLEVEL_DEBUG;  // the core's bare diagnostic lines
}

bool InstallLogBridge(pappl_system_t* system) {
  static bool installed = false;
  std::lock_guard<std::mutex> hold(gLock);
  gSystem = system;
  if (installed) return true;
  cookie_io_functions_t functions{};
  functions.write = WriteLines;
  FILE* stream = fopencookie(nullptr, "w", functions);
  if (stream == nullptr) return false;
  setvbuf(stream, nullptr, _IONBF, 0);
  stderr = stream;
  installed = true;
  return true;
}

void SetLogReceiver(LOG_LINE_CB callback, void* context) {
  fflush(stderr);
  std::lock_guard<std::mutex> hold(gLock);
  if (!gPartial.empty()) {
    EmitLocked(gPartial);
    gPartial.clear();
  }
  gCallback = callback;
  gContext = context;
}
