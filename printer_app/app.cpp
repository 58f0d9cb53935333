// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// varnel-printer-app: papplMainloop and the system object.
#include "app.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "driver.h"
#include "log_bridge.h"
#include "pdf_filter.h"

#ifndef VARNEL_VERSION
#define VARNEL_VERSION "1.0.0"
#endif

namespace {

const char kAppName[] = "varnel-printer-app";
const char kFooter[] = "Varnel printer driver " VARNEL_VERSION;

bool gServerMode = false;  // the sub-command is "server": the print core's log goes to PAPPL's

std::vector<pappl_pr_driver_t>& Drivers() {
  static std::vector<pappl_pr_driver_t> drivers = VarnelDrivers();
  return drivers;
}

bool ParseLogLevel(const char* value, pappl_loglevel_t* level) {
  static const struct {
    const char* name;
    pappl_loglevel_t level;
  } kLevels[] = {{"fatal", PAPPL_LOGLEVEL_FATAL}, {"error", PAPPL_LOGLEVEL_ERROR}, {"warn", PAPPL_LOGLEVEL_WARN},
                 {"info", PAPPL_LOGLEVEL_INFO},   {"debug", PAPPL_LOGLEVEL_DEBUG}};
  for (const auto& entry : kLevels) {
    if (strcmp(value, entry.name) == 0) {
      *level = entry.level;
      return true;
    }
  }
  return false;
}

// The comma-separated words of "server-options", as PAPPL's own server takes them.
pappl_soptions_t ParseServerOptions(const char* value, pappl_soptions_t options) {
  static const struct {
    const char* word;
    pappl_soptions_t set;
    pappl_soptions_t clear;
  } kWords[] = {
      {"none", PAPPL_SOPTIONS_NONE, ~0u},
      {"dnssd-host", PAPPL_SOPTIONS_DNSSD_HOST, 0},
      {"no-multi-queue", PAPPL_SOPTIONS_NONE, PAPPL_SOPTIONS_MULTI_QUEUE},
      {"raw-socket", PAPPL_SOPTIONS_RAW_SOCKET, 0},
      {"usb-printer", PAPPL_SOPTIONS_USB_PRINTER, 0},
      {"no-web-interface", PAPPL_SOPTIONS_NONE, PAPPL_SOPTIONS_WEB_INTERFACE},
      {"web-log", PAPPL_SOPTIONS_WEB_LOG, 0},
      {"web-network", PAPPL_SOPTIONS_WEB_NETWORK, 0},
      {"web-remote", PAPPL_SOPTIONS_WEB_REMOTE, 0},
      {"web-security", PAPPL_SOPTIONS_WEB_SECURITY, 0},
      {"no-tls", PAPPL_SOPTIONS_NO_TLS, 0},
  };
  std::string words = value;
  size_t start = 0;
  while (start <= words.size()) {
    size_t comma = words.find(',', start);
    if (comma == std::string::npos) comma = words.size();
    std::string word = words.substr(start, comma - start);
    for (const auto& entry : kWords) {
      if (word == entry.word) options = (options & ~entry.clear) | entry.set;
    }
    start = comma + 1;
  }
  return options;
}

// Where jobs are spooled when no spool-directory is given: the places of PAPPL's own servers,
// which keep jobs across a restart (a system service in /var/spool).
std::string DefaultSpoolDirectory() {
  const char* snap = getenv("SNAP_COMMON");
  if (snap != nullptr) return std::string(snap) + "/" + kAppName + ".d";
  if (getuid() == 0) {
    mkdir("/var/spool", 0755);
    return std::string("/var/spool/") + kAppName;
  }
  const char* home = getenv("HOME");
  if (home != nullptr) {
    std::string config = std::string(home) + "/.config";
    if (access(config.c_str(), X_OK) == 0 || mkdir(config.c_str(), 0700) == 0) return config + "/" + kAppName + ".d";
  }
  const char* tmp = getenv("TMPDIR");
  return std::string(tmp != nullptr ? tmp : "/tmp") + "/" + kAppName + std::to_string(getuid()) + ".d";
}

}  // namespace

pappl_system_t* VarnelSystemCallback(int num_options, cups_option_t* options, void*) {
  pappl_loglevel_t logLevel = PAPPL_LOGLEVEL_WARN;
  const char* value = cupsGetOption("log-level", num_options, options);
  if (value != nullptr && !ParseLogLevel(value, &logLevel)) {
    fprintf(stderr, "%s: Bad 'log-level' value '%s'.\n", kAppName, value);
    return nullptr;
  }
  pappl_soptions_t soptions = PAPPL_SOPTIONS_MULTI_QUEUE | PAPPL_SOPTIONS_WEB_INTERFACE;
  if ((value = cupsGetOption("server-options", num_options, options)) != nullptr)
    soptions = ParseServerOptions(value, soptions);
  int port = 0;
  if ((value = cupsGetOption("server-port", num_options, options)) != nullptr) {
    char* end = nullptr;
    errno = 0;
    long number = strtol(value, &end, 10);
    if (errno != 0 || *end != '\0' || number < 0 || number > 65535) {
      fprintf(stderr, "%s: Bad 'server-port' value '%s'.\n", kAppName, value);
      return nullptr;
    }
    port = static_cast<int>(number);
  }
  const char* given = cupsGetOption("spool-directory", num_options, options);
  std::string spool = given != nullptr ? given : DefaultSpoolDirectory();
  if (access(spool.c_str(), X_OK) != 0 && mkdir(spool.c_str(), 0700) != 0) {
    fprintf(stderr, "%s: Unable to create the spool directory '%s': %s\n", kAppName, spool.c_str(), strerror(errno));
    return nullptr;
  }

  // A server logs where log-file says (PAPPL's default: a file in TMPDIR); the other sub-commands
  // that make a system (drivers) log on the standard error and leave no file behind.
  const char* logFile = cupsGetOption("log-file", num_options, options);
  if (logFile == nullptr && !gServerMode) logFile = "-";
  pappl_system_t* system =
      papplSystemCreate(soptions, kAppName, port, "_print,_universal", spool.c_str(), logFile,
                        logLevel, cupsGetOption("auth-service", num_options, options), false);
  if (system == nullptr) return nullptr;
  if ((value = cupsGetOption("admin-group", num_options, options)) != nullptr) papplSystemSetAdminGroup(system, value);
  if ((value = cupsGetOption("server-hostname", num_options, options)) != nullptr)
    papplSystemSetHostName(system, value);
  if (cupsGetOption("private-server", num_options, options) == nullptr &&
      !papplSystemAddListeners(system, cupsGetOption("listen-hostname", num_options, options))) {
    fprintf(stderr, "%s: Unable to listen for connections.\n", kAppName);
    papplSystemDelete(system);
    return nullptr;
  }

  if (gServerMode && !InstallLogBridge(system))
    papplLog(system, PAPPL_LOGLEVEL_WARN, "The print core's messages go to the standard error.");
  // The filters must be known before printers are made: they decide document-format-supported.
  AddPdfFilter(system);
  papplSystemSetFooterHTML(system, kFooter);
  static pappl_version_t version = {"varnel-printer-app", "", VARNEL_VERSION, {0, 0, 0, 0}};
  sscanf(VARNEL_VERSION, "%hu.%hu.%hu", &version.version[0], &version.version[1], &version.version[2]);
  papplSystemSetVersions(system, 1, &version);
  papplSystemSetPrinterDrivers(system, static_cast<int>(Drivers().size()), Drivers().data(), VarnelAutoAddCallback,
                               nullptr, VarnelDriverCallback, nullptr);
  return system;
}

bool IsServerCommand(int argc, char* argv[]) {
  for (int i = 1; i < argc; ++i) {
    // Options of papplMainloop that take the next argument as their value.
    if (argv[i][0] == '-' && argv[i][1] != '\0' && argv[i][1] != '-' && strchr("dhjmnotuv", argv[i][1]) != nullptr) {
      ++i;
      continue;
    }
    if (strcmp(argv[i], "server") == 0) return true;
  }
  return false;
}

int RunPrinterApp(int argc, char* argv[]) {
  gServerMode = IsServerCommand(argc, argv);
  return papplMainloop(argc, argv, VARNEL_VERSION, kFooter, static_cast<int>(Drivers().size()), Drivers().data(),
                       VarnelAutoAddCallback, VarnelDriverCallback, nullptr, nullptr, VarnelSystemCallback, nullptr,
                       nullptr);
}
