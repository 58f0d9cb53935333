// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Document and page sequences of the three platforms: which records go out, in which order, and
// whether each one is also written to the spool files (cached) for collated copies and manual duplex.
// Prnt_StartDoc and the others call the platform's own through the platform table (platforms.cpp).
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "common.h"
#include "pjl_value.h"
#include "platforms.h"
#include "prnt.h"
#include "prnt_records.h"

int (*gGetHostName)(char* name, size_t length) = gethostname;

namespace {

enum { kUncached = 0, kCached = 1 };

const char kModelK5916[] = "Varnel K5916 Series";
const char kModelT9366[] = "Varnel T8323-T9076 Series";

bool ModelIs(const char* name) { return strcmp(gPPDFile, name) == 0; }

void ReportSendFailure(const char* operation, const char* item) {
  char message[256];
  snprintf(message, sizeof message, "%s() :: send %s Fail 0 ==  \n", operation, item);
  PrependLastError(message);
}

// One step of a sequence: sends the block, or reports "<operation>() :: send <item> Fail ...".
bool Send(const char* operation, const char* item, const void* data, size_t count, int cache) {
  if (SendDataToFile(const_cast<void*>(data), static_cast<int>(count), cache)) return true;
  ReportSendFailure(operation, item);
  return false;
}

template <typename Record>
bool SendRecord(const char* operation, const char* item, const Record& record, int cache) {
  return Send(operation, item, record.bytes, sizeof record.bytes, cache);
}

// A builder that returns 0 counts as a failed send of its record.
bool Built(int builderResult, const char* operation, const char* item) {
  if (builderResult) return true;
  ReportSendFailure(operation, item);
  return false;
}

bool SendMHeader(const char* operation, const char* item, unsigned long cmdType, int cache) {
  GDI_JOB_SPEC_M header;
  SetCmdType(&header, kMHeaderLen, cmdType, 0, 0, kMSignature);
  return SendRecord(operation, item, header, cache);
}

// The host name can come from the network (DHCP): a CR LF or another control byte in it would
// start PJL commands of its own. Only the bytes that may stand in a PJL value are kept, and of
// them the first kHostNameMaxLen.
void FillHostName() {
  char name[256] = {0};
  if (gGetHostName(name, sizeof name - 1) != 0) name[0] = '\0';
  memset(pjlPostComputerName, 0, sizeof pjlPostComputerName);
  CopyPjlValue(name, reinterpret_cast<char*>(pjlPostComputerName), sizeof pjlPostComputerName);
}

// The page and custom-paper records that start a C or Z page.
bool StartPageRecords_CZ(PGDI_START_PAGE_PARAM page, int platform) {
  const char* op = "Prnt_StartPage";
  gImageCoverage = 0;
  Insert00();
  GDI_PAGE_SPEC pageSpec;
  GetPageSpecCmd(page, &pageSpec, platform);
  if (!SendRecord(op, "cmdPageSpec", pageSpec, kCached)) return false;
  Insert00();
  GDI_CUSTOM_PAPER customPaper;
  GetCustomPaperCmd(page, &customPaper, platform);
  if (!SendRecord(op, "cmdCustomPaper", customPaper, kCached)) return false;
  Insert00();
  return true;
}

}  // namespace

// ---- Prnt_StartDoc ----

bool StartDoc_C(PGDI_START_DOC_PARAM doc) {
  const char* op = "Prnt_StartDoc";
  if (!Send(op, "UEL_CMD_C", UEL_CMD_C, sizeof UEL_CMD_C, kCached)) return false;
  if (!Send(op, "abortCmd", abortCmd, sizeof abortCmd, kCached)) return false;
  if (!Send(op, "endOfJobCmd", endOfJobCmd, sizeof endOfJobCmd, kCached)) return false;
  if (!Send(op, "fw Version", fwVer, sizeof fwVer, kCached)) return false;
  Insert00();
  if (!Send(op, "PJLheader", PJLheader, sizeof PJLheader, kCached)) return false;
  if (!Send(op, "pjlCmd", pjlCmd, sizeof pjlCmd, kCached)) return false;
  Insert00();
  GDI_JOB_SPEC_C jobSpec;
  GetJobSpecCmd_C(doc, &jobSpec);
  if (!SendRecord(op, "cmdJobSpec", jobSpec, kCached)) return false;
  Insert00();
  GDI_TONER_SAVE tonerSave;
  GetTonerSaveCmd(doc, &tonerSave);
  if (!SendRecord(op, "cmdTonerSave", tonerSave, kCached)) return false;
  Insert00();
  GDI_DENSITY_PARAM density;
  GetDensityCmd(doc, &density);
  if (!SendRecord(op, "cmdDensity", density, kCached)) return false;
  GDI_SYSTEM_DATE date;
  if (!Built(GetSysTimeCmd(&date), op, "cmdSysTime")) return false;
  return SendRecord(op, "cmdSysTime", date, kCached);
}

bool StartDoc_Z(PGDI_START_DOC_PARAM doc) {
  const char* op = "Prnt_StartDoc";
  if (!Send(op, "PJLheader", PJLheader, sizeof PJLheader, kUncached)) return false;
  if (ModelIs(kModelK5916) && !Send(op, "pjlVersion", pjlVersion, sizeof pjlVersion, kUncached)) {
    return false;
  }
  GetSendTimePJL(pjlPostSendTime);
  if (!Send(op, "pjlSendTime", pjlPreSendTime, sizeof pjlPreSendTime, kUncached)) return false;
  if (!Send(op, "pjlSendTime", pjlPostSendTime, kSendTimeTextLen, kUncached)) return false;
  FillHostName();
  if (!Send(op, "pjlHostName", pjlPreComputerName, sizeof pjlPreComputerName, kUncached)) return false;
  size_t nameLen = strlen(reinterpret_cast<const char*>(pjlPostComputerName));
  // An empty host name has nothing to send; writing zero bytes would read as a failure.
  if (nameLen > 0 && !Send(op, "pjlHostName", pjlPostComputerName, nameLen, kUncached)) return false;
  if (!Send(op, "pjlHostName", CRLF, sizeof CRLF, kCached)) return false;
  if (!Send(op, "pjlPosCmd", pjlCmd, sizeof pjlCmd, kUncached)) return false;
  Insert00();
  GDI_FINEMODE fineMode;
  GetFineModeCmd(doc, &fineMode);
  if (!SendRecord(op, "cmdFineMode", fineMode, kCached)) return false;
  Insert00();
  GDI_JOB_SPEC_Z jobSpec;
  GetJobSpecCmd_Z(doc, &jobSpec);
  if (!SendRecord(op, "cmdJobSpec", jobSpec, kUncached)) return false;
  Insert00();
  GDI_DENSITY_PARAM density;
  GetDensityCmd(doc, &density);
  if (!SendRecord(op, "cmdDensity", density, kUncached)) return false;
  Insert00();
  if (ModelIs(kModelK5916)) {
    GDI_TONER_PARAM_K8244 toner;
    GetTonerParamCmdForK5916(doc, &toner);
    if (!SendRecord(op, "cmdTonerParamK5916", toner, kUncached)) return false;
  }
  if (ModelIs(kModelT9366)) {
    GDI_TONER_PARAM_T9366 toner;
    GetTonerParamCmdForT9366(doc, &toner);
    if (!SendRecord(op, "cmdTonerParamT9366", toner, kUncached)) return false;
  }
  return true;
}

bool StartDoc_M(PGDI_START_DOC_PARAM) {
  const char* op = "Prnt_StartDoc";
  if (!Send(op, "UEL_CMD", UEL_CMD, sizeof UEL_CMD, kCached)) return false;
  if (!Send(op, "pjlJZJZ_K4257", pjlJZJZ_K4257, sizeof pjlJZJZ_K4257, kCached)) return false;
  GDI_TONER_PARAM_PLATFORM_M toner;
  GetTonerParamCmdForPlatformM(&toner, 88, TONER_PARAM, 0, 0, kMSignature);
  if (!SendRecord(op, "TONER_PARAM", toner, kCached)) return false;
  GDI_JOB_SPEC_M header;
  SetCmdType(&header, kMHeaderLen + 3 * kMParamLen, START_DOC_CMD, 3, 3 * kMParamLen, kMSignature);
  if (!SendRecord(op, "START_DOC_CMD", header, kCached)) return false;
  const unsigned long values[3] = {0, 0, 1};
  for (unsigned short id = 0; id < 3; ++id) {
    GDI_SET_PARAM param;
    SetCmdParam(&param, id, 1, values[id]);
    if (!SendRecord(op, "TOTAL_PAGE_PARAM", param, kCached)) return false;
  }
  return true;
}

// ---- Prnt_StartPage ----

bool StartPage_C(PGDI_START_PAGE_PARAM page) {
  if (!StartPageRecords_CZ(page, PLATFORM_C)) return false;
  if (!Send("Prnt_StartPage", "hostUseCmd", hostUseCmd, sizeof hostUseCmd, kCached)) return false;
  Insert00();
  return true;
}

bool StartPage_Z(PGDI_START_PAGE_PARAM page) { return StartPageRecords_CZ(page, PLATFORM_Z); }

bool StartPage_M(PGDI_START_PAGE_PARAM page) {
  const char* op = "Prnt_StartPage";
  M_PAGE_PARAM_ENTRY entries[kMPageParamsMax];
  const int count = GetStartPageParams_M(page, entries);
  GDI_JOB_SPEC_M header;
  SetCmdType(&header, kMHeaderLen + kMParamLen * count, START_PAGE_CMD, count,
             static_cast<unsigned short>(kMParamLen * count), kMSignature);
  if (!SendRecord(op, "START_PAGE_CMD", header, kCached)) return false;
  for (int i = 0; i < count; ++i) {
    GDI_SET_PARAM param;
    SetCmdParam(&param, entries[i].id, 1, entries[i].value);
    if (!SendRecord(op, entries[i].item, param, kCached)) return false;
  }
  return true;
}

// ---- Prnt_EndPage ----

bool EndPage_C(PGDI_END_PAGE_PARAM end) {
  const char* op = "Prnt_EndPage";
  if (!Send(op, "UEL_CMD_C", UEL_CMD_C, sizeof UEL_CMD_C, kCached)) return false;
  Insert00();
  GDI_IMAGE_DATA_CHECKSUM checksum;
  GetImageDataChenksumCmd(&checksum);
  if (!SendRecord(op, "cmdImageDataChenksum", checksum, kCached)) return false;
  Insert00();
  GDI_COVERAGE_C coverage;
  GetCoverageCmd_C(end, &coverage);
  if (!SendRecord(op, "cmdCoverage", coverage, kCached)) return false;
  Insert00();
  if (!Send(op, "formFeedCmd", formFeedCmd, sizeof formFeedCmd, kCached)) return false;
  if (end->bMachDup == 1 && !SendMachineDuplexCmd(end->page, 1)) {
    PrependLastError("Prnt_EndPage() :: MachineDuplexCmd Fail .\n");
    return false;
  }
  return true;
}

bool EndPage_Z(PGDI_END_PAGE_PARAM) {
  Insert00();
  return Send("Prnt_EndPage", "formFeedCmd", formFeedCmd, sizeof formFeedCmd, kCached);
}

bool EndPage_M(PGDI_END_PAGE_PARAM) { return SendMHeader("Prnt_EndPage", "END_PAGE_CMD", END_PAGE_CMD, kCached); }

// ---- Prnt_EndDoc ----

bool EndDoc_C(PGDI_END_DOC_PARAM end) {
  const char* op = "Prnt_EndDoc";
  if (end->bMachDup == 1 && !SendMachineDuplexCmd(end->page, 1)) {
    PrependLastError("Prnt_EndDoc() :: MachineDuplexCmd Fail .\n");
    return false;
  }
  Insert00();
  if (!Send(op, "queryStatusCmd", queryStatusCmd, sizeof queryStatusCmd, kCached)) return false;
  Insert00();
  if (!Send(op, "resetCmd", resetCmd, sizeof resetCmd, kCached)) return false;
  return Send(op, "endOfJobCmd", endOfJobCmd, sizeof endOfJobCmd, kCached);
}

bool EndDoc_Z(PGDI_END_DOC_PARAM) {
  const char* op = "Prnt_EndDoc";
  if (!Send(op, "resetCmd", resetCmd, sizeof resetCmd, kCached)) return false;
  return Send(op, "endOfJobCmd", endOfJobCmd, sizeof endOfJobCmd, kCached);
}

bool EndDoc_M(PGDI_END_DOC_PARAM) {
  const char* op = "Prnt_EndDoc";
  if (!SendMHeader(op, "END_DOC_CMD", END_DOC_CMD, kUncached)) return false;
  return Send(op, "UEL_CMD", UEL_CMD, sizeof UEL_CMD, kUncached);
}

// ---- SendManualDuplexCmd ----

bool ManualDuplex_C() {
  return Send("SendManualDuplexCmd", "manualDuplexCmd", manualDuplexCmd_C, sizeof manualDuplexCmd_C, kUncached);
}

bool ManualDuplex_Z() {
  return Send("SendManualDuplexCmd", "manualDuplexCmd", manualDuplexCmd_Z, sizeof manualDuplexCmd_Z, kUncached);
}

bool ManualDuplex_M() { return SendMHeader("SendManualDuplexCmd", "MANUAL_DUPLEX_CMD", MANUAL_DUPLEX_CMD, kUncached); }

// ---- Dispatch through the platform table ----

int Prnt_StartDoc(PGDI_START_DOC_PARAM pStartDocParam, int platform) {
  const PLATFORM_FACTS* facts = GetPlatformFacts(platform);
  if (facts == nullptr || pStartDocParam == nullptr) return 0;
  return facts->startDoc(pStartDocParam) ? 1 : 0;
}

int Prnt_StartPage(PGDI_START_PAGE_PARAM pStartPageParam, int platform) {
  const PLATFORM_FACTS* facts = GetPlatformFacts(platform);
  if (facts == nullptr || pStartPageParam == nullptr) return 0;
  return facts->startPage(pStartPageParam) ? 1 : 0;
}

int Prnt_EndPage(PGDI_END_PAGE_PARAM pEndPageParam, int platform) {
  const PLATFORM_FACTS* facts = GetPlatformFacts(platform);
  if (facts == nullptr || pEndPageParam == nullptr) return 0;
  return facts->endPage(pEndPageParam) ? 1 : 0;
}

int SendManualDuplexCmd(int platform) {
  const PLATFORM_FACTS* facts = GetPlatformFacts(platform);
  if (facts == nullptr) return 0;
  return facts->manualDuplex() ? 1 : 0;
}

int Prnt_EndDoc(PGDI_END_DOC_PARAM pEndDocParam, int platform) {
  const PLATFORM_FACTS* facts = GetPlatformFacts(platform);
  if (facts == nullptr || pEndDocParam == nullptr) return 0;
  return facts->endDoc(pEndDocParam) ? 1 : 0;
}

int SendMachineDuplexCmd(int pageNum, int bEndDoc) {
  const bool odd = pageNum % 2 != 0;
  const bool due = bEndDoc ? odd : !odd;
  if (!due) return 1;
  Insert00();
  return Send("SendMachineDuplexCmd", "machineDuplexCmd", machineDuplexCmd, sizeof machineDuplexCmd,
              kCached);
}
