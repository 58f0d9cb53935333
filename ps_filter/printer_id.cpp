// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Printer identification for PostScript models.
#include "printer_id.h"

#include <cups/ppd.h>
#include <cups/sidechannel.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "common.h"
#include "pjl_text.h"

const char support_printerinfo[9][64] = {
    "RXT415K2 Series PS",    "RXT415K4 Series PS",    "TM5720DN Series PS",
    "TP5720DN Series PS",    "PRLP5720DN Series PS",  "PRLM5720ADN Series PS",
    "PRLP8400DN Series PS",  "PRLM8400ADN Series PS", "quilon 7407ADN Series PS",
};

const SupportDeviceIDRow SupportDeviceID[9] = {
    {"MFG:RX;", "MDL:RXT415K2 series;", "CLS:PRINTER;"},
    {"MFG:RX;", "MDL:RXT415K4 series;", "CLS:PRINTER;"},
    {"MFG:TT VISTA;", "MDL:TP5720DN series;", "CLS:PRINTER;"},
    {"MFG:TT VISTA;", "MDL:TM5720DN series;", "CLS:PRINTER;"},
    {"MFG:PRUL;", "MDL:PRLP5720DN series;", "CLS:PRINTER;"},
    {"MFG:PRUL;", "MDL:PRLM5720ADN series;", "CLS:PRINTER;"},
    {"MFG:PRUL;", "MDL:PRLP8400DN series;", "CLS:PRINTER;"},
    {"MFG:PRUL;", "MDL:PRLM8400ADN series;", "CLS:PRINTER;"},
    {"MFG:VOLTRAN ISKELA;", "MDL:quilon 7407ADN series;", "CLS:PRINTER;"},
};

const char qd3840_printerinfo[2][64] = {"PRLP8400DN", "PRLM8400ADN"};

namespace {

struct PpdCloser {
  void operator()(ppd_file_t* ppd) const { ppdClose(ppd); }
};

void MarkQd3840(const std::string& text, bool* is_qd3840_out) {
  for (const char* word : qd3840_printerinfo) {
    if (ContainsNoCase(text, word)) {
      if (is_qd3840_out != nullptr) *is_qd3840_out = true;
      return;
    }
  }
}

bool NicknameIsSupported(ppd_file_t* ppd, bool* is_qd3840_out) {
  ppd_attr_t* attr = ppdFindAttr(ppd, "ShortNickName", nullptr);
  if (attr == nullptr || attr->value == nullptr) return false;
  fprintf(stderr, "attr->value :%s.\n", attr->value);
  for (const char* name : support_printerinfo) {
    if (strcasecmp(attr->value, name) == 0) {
      MarkQd3840(attr->value, is_qd3840_out);
      return true;
    }
  }
  return false;
}

bool DeviceIdIsSupported(const std::string& id, bool* is_qd3840_out) {
  for (const SupportDeviceIDRow& row : SupportDeviceID) {
    if (ContainsNoCase(id, row.manufacturer) && ContainsNoCase(id, row.model) &&
        ContainsNoCase(id, row.device_class)) {
      MarkQd3840(id, is_qd3840_out);
      return true;
    }
  }
  return false;
}

}  // namespace

namespace {

constexpr double kDeviceIdTimeout = 10800.0;  // seconds: a printer may be busy or asleep

// Waits for the backend's answer on the side channel. False on time-out or cancel: the filter
// looks at job_canceled between short waits, so a cancel ends the wait at once.
bool WaitForSideChannelAnswer(double timeout_seconds) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::duration<double>(timeout_seconds);
  while (job_canceled.load() == 0) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    pollfd channel = {CUPS_SC_FD, POLLIN, 0};
    int ready = poll(&channel, 1, static_cast<int>(std::min<long long>(left, 200)));
    if (ready > 0) return true;  // an answer, or a closed channel that the read reports
    if (ready < 0 && errno != EINTR) return false;
  }
  return false;
}

cups_sc_status_t AskForDeviceId(char* id_buf, int* len) {
  if (cupsSideChannelWrite(CUPS_SC_CMD_GET_DEVICE_ID, CUPS_SC_STATUS_NONE, nullptr, 0, 1.0) != 0)
    return CUPS_SC_STATUS_TIMEOUT;
  if (!WaitForSideChannelAnswer(kDeviceIdTimeout)) return CUPS_SC_STATUS_TIMEOUT;
  cups_sc_command_t command;
  cups_sc_status_t status;
  if (cupsSideChannelRead(&command, &status, id_buf, len, 1.0) != 0) return CUPS_SC_STATUS_TIMEOUT;
  return command == CUPS_SC_CMD_GET_DEVICE_ID ? status : CUPS_SC_STATUS_BAD_MESSAGE;
}

}  // namespace

int query1284info(char* id_buf, int* len) {
  if (id_buf == nullptr || len == nullptr || *len <= 0) return 0;
  fprintf(stderr, "query1284info %s \n", id_buf);
  int capacity = *len;
  cups_sc_status_t status = AskForDeviceId(id_buf, len);
  if (status == CUPS_SC_STATUS_OK && *len > 0 && *len <= capacity) {
    id_buf[*len] = '\0';
    return 1;
  }
  id_buf[0] = '\0';
  *len = 0;
  fputs("cups api can't find 1284 information.\n", stderr);
  return 0;
}

bool isSupportPrinter(const char* id, int have_id, bool* is_qd3840_out) {
  const char* path = getenv("PPD");
  std::unique_ptr<ppd_file_t, PpdCloser> ppd(path != nullptr ? ppdOpenFile(path) : nullptr);
  if (!ppd) return false;
  if (have_id != 1 && NicknameIsSupported(ppd.get(), is_qd3840_out)) return true;
  return DeviceIdIsSupported(id != nullptr ? id : "", is_qd3840_out);
}
