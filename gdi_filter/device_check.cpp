// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Supported-device check: the backend's IEEE 1284 device ID, or the PPD's ShortNickName when the
// backend cannot give one.
#include <strings.h>

#include <cstdio>
#include <cstring>

#include "common.h"
#include "cupsdll.h"

const PrinterInfo printerInfoList[] = {
    {"RXT30441 Series", "MFG:R&X;", "MDL:RXT30441 series;", "CLS:PRINTER;", "DES:R&X RXT30441 series;"},
    {"RXT30442 Series", "MFG:R&X;", "MDL:RXT30442 series;", "CLS:PRINTER;", "DES:R&X RXT30442 series;"},
    {"RXT415K3 Series", "MFG:RX;", "MDL:RXT415K3 series;", "CLS:PRINTER;", "DES:RX RXT415K3 series;"},
    {"PRLM6100N Series", "MFG:PRUL;", "MDL:PRLM6100N-series;", "CLS:PRINTER;", "DES:PRUL-PRLM6100N-series;"},
    {"quilon 7106MF Series", "MFG:VOLTRAN ISKELA;", "MDL:quilon 7106MF;", "CLS:PRINTER;",
     "DES:VOLTRAN ISKELA quilon 7106MF;"},
    {"quilon 7106MF-Series", "MFG:VOLTRAN ISKELA;", "MDL:quilon 7106MF-series;", "CLS:PRINTER;",
     "DES:VOLTRAN ISKELA-quilon 7106MF-series;"},
    {"quilon 7306MF Series", "MFG:VOLTRAN ISKELA;", "MDL:quilon 7306MF series;", "CLS:PRINTER;",
     "DES:VOLTRAN ISKELA quilon 7306MF series;"},
    {"quilon7306MF Series", "MFG:VOLTRAN ISKELA;", "MDL:quilon7306MF series;", "CLS:PRINTER;",
     "DES:VOLTRAN ISKELA quilon7306MF series;"},
    {"NULL", "NULL", "NULL", "NULL", "NULL"},
};
const int printerInfoListSize = 9;

namespace {
// The last row is a sentinel and never matches.
const int kCheckedRows = printerInfoListSize - 1;
const int kDeviceIdCapacity = 512;
}  // namespace

namespace {

// A printer may be busy or asleep: the backend is given three hours to answer.
const long kDeviceIdTimeoutMs = 10800L * 1000;

// The request of cupsSideChannelDoRequest, with a wait for the answer that a cancel ends at once.
cups_sc_status_t AskForDeviceId(char* device_id, int* device_id_len) {
  if (cupsSideChannelWrite(CUPS_SC_CMD_GET_DEVICE_ID, CUPS_SC_STATUS_NONE, nullptr, 0, 1.0) != 0)
    return CUPS_SC_STATUS_TIMEOUT;
  int waited = WaitReadableUnlessCanceled(CUPS_SC_FD, kDeviceIdTimeoutMs);
  if (waited < 0) return CUPS_SC_STATUS_NONE;  // cancelled: nobody waits for the answer
  if (waited == 0) return CUPS_SC_STATUS_TIMEOUT;
  cups_sc_command_t command;
  cups_sc_status_t status;
  if (cupsSideChannelRead(&command, &status, device_id, device_id_len, 1.0) != 0) return CUPS_SC_STATUS_TIMEOUT;
  return command == CUPS_SC_CMD_GET_DEVICE_ID ? status : CUPS_SC_STATUS_BAD_MESSAGE;
}

}  // namespace

int query_1284_device_id(char* device_id, int* device_id_len) {
  *device_id_len = kDeviceIdCapacity;
  cups_sc_status_t status = AskForDeviceId(device_id, device_id_len);
  if (status != CUPS_SC_STATUS_OK) {
    device_id[0] = '\0';
    if (Canceled) return 0;
    fputs("DEBUG: Failed to get 1284 information.\n", stderr);
    if (status == CUPS_SC_STATUS_IO_ERROR) fputs("ERROR: CUPS_SC_STATUS_IO_ERROR.\n", stderr);
    if (status == CUPS_SC_STATUS_TIMEOUT) fputs("ERROR: CUPS_SC_STATUS_TIMEOUT.\n", stderr);
    return 0;
  }
  if (*device_id_len <= 0) {
    device_id[0] = '\0';
    fputs("DEBUG: Failed to get 1284 information.\n", stderr);
    return 0;
  }
  if (*device_id_len > kDeviceIdCapacity) *device_id_len = kDeviceIdCapacity;
  device_id[*device_id_len] = '\0';
  return 1;
}

bool isSupportedDeviceId(const char* deviceId) {
  for (int i = 0; i < kCheckedRows; ++i) {
    const PrinterInfo& row = printerInfoList[i];
    if (strstr(deviceId, row.mfg) && strstr(deviceId, row.mdl) && strstr(deviceId, row.cls) &&
        strstr(deviceId, row.des))
      return true;
  }
  return false;
}

bool isSupportedShortNickName(const char* shortNickName) {
  for (int i = 0; i < kCheckedRows; ++i)
    if (strcasecmp(shortNickName, printerInfoList[i].shortNickName) == 0) return true;
  return false;
}

bool checkPrinter1284(const char* shortNickName) {
  char deviceId[kDeviceIdCapacity + 1] = {0};
  int length = 0;
  bool answered = query_1284_device_id(deviceId, &length) != 0;
  const char* nickName = shortNickName != nullptr ? shortNickName : "";
  bool supported = (answered || nickName[0] == '\0') ? isSupportedDeviceId(deviceId)
                                                      : isSupportedShortNickName(nickName);
  fputs(supported ? "DEBUG: Sup dev.\n" : "DEBUG: Not sup dev.\n", stderr);
  return supported;
}
