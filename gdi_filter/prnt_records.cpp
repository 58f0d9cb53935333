// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Builders of the printer command records; see prnt_records.h for the layouts.
#include "prnt_records.h"

#include <cstdio>
#include <cstring>
#include <ctime>

#include "common.h"
#include "platforms.h"

const unsigned char UEL_CMD[9] = {0x1B, '%', '-', '1', '2', '3', '4', '5', 'X'};
const unsigned char UEL_CMD_C[9] = {0x1B, 0xFF, '-', '1', '2', '3', '4', '5', 'X'};

// The texts are plain byte arrays; initialising them from the literals keeps them readable.
const unsigned char PJLheader[15] = {0x1B, '%', '-', '1', '2', '3', '4', '5', 'X',
                                     '@',  'P', 'J', 'L', '\r', '\n'};
const unsigned char pjlCmd[24] = {'@', 'P', 'J', 'L', ' ', 'E', 'N', 'T', 'E', 'R', ' ', 'L',
                                  'A', 'N', 'G', 'U', 'A', 'G', 'E', '=', 'P', 'L', '\r', '\n'};
const unsigned char pjlVersion[26] = {'@', 'P', 'J', 'L', ' ', 'L', 'A', 'N', 'G', 'U', 'A', 'G', 'E',
                                      'V', 'E', 'R', 'S', 'I', 'O', 'N', '=', '1', '.', '0', '\r', '\n'};
const unsigned char pjlPreSendTime[13] = {'@', 'P', 'J', 'L', ' ', 'J', 'O', 'B', 'T', 'I', 'M', 'E', '='};
const unsigned char pjlPreComputerName[14] = {'@', 'P', 'J', 'L', ' ', 'J', 'O', 'B',
                                              'O', 'W', 'N', 'E', 'R', '='};
const unsigned char CRLF[2] = {'\r', '\n'};
const unsigned char endOfJobCmd[36] = {0x1B, '%', '-', '1', '2', '3', '4', '5', 'X', '@', 'P', 'J',
                                       'L', '\r', '\n', '@', 'P', 'J', 'L', ' ', 'E', 'O', 'J', '\r',
                                       '\n', 0x1B, '%', '-', '1', '2', '3', '4', '5', 'X', '\r', '\n'};
const unsigned char fwVer[16] = {'v', 'e', 'r', 's', 'i', 'o', 'n', 's',
                                 '=', '3', '.', '1', '.', '2', '.', '1'};
const unsigned char pjlJZJZ_K4257[4] = {'J', 'Z', 'J', 'Z'};

unsigned char pjlPostSendTime[kSendTimeTextLen + 1] = {0};
unsigned char pjlPostComputerName[kHostNameMaxLen + 1] = {0};

const unsigned char abortCmd[4] = {0x0B, 0x04, 0x16, 0xDB};
const unsigned char resetCmd[4] = {0x0B, 0x04, 0x17, 0xDA};
const unsigned char formFeedCmd[4] = {0x0B, 0x04, 0x18, 0xD9};
const unsigned char manualDuplexCmd_Z[4] = {0x0B, 0x04, 0x1B, 0xD6};
const unsigned char manualDuplexCmd_C[4] = {0x0B, 0x04, 0x30, 0xC1};
const unsigned char hostUseCmd[4] = {0x0B, 0x04, 0x32, 0xBF};
const unsigned char machineDuplexCmd[4] = {0x0B, 0x04, 0x40, 0xB1};
const unsigned char queryStatusCmd[5] = {0x0B, 0x05, 0x31, 0x80, 0x3F};

namespace {

// Short records: 0x0B, total length, command byte, fields, checksum over everything before it.
template <size_t N>
void BeginShortRecord(unsigned char (&bytes)[N], unsigned char cmd) {
  memset(bytes, 0, N);
  bytes[0] = 0x0B;
  bytes[1] = static_cast<unsigned char>(N);
  bytes[2] = cmd;
}

template <size_t N>
void SealShortRecord(unsigned char (&bytes)[N]) {
  bytes[N - 1] = CalcChecksum(bytes, static_cast<int>(N - 1));
}

unsigned char JobFlags(const GDI_START_DOC_PARAM& doc) {
  unsigned char flags = doc.watermarkEnable ? 0x80 : 0x00;
  flags |= doc.DuplexMode;
  flags |= doc.saveMode;
  if (doc.bookletEnable) flags |= 0x08;
  if (doc.posterEnable) flags |= 0x04;
  if (doc.nupEnable) flags |= 0x02;
  if (doc.overlapEnable) flags |= 0x01;
  return flags;
}

// A size that no paper row describes carries the platform's custom paper code (ComputePageGeometry).
bool IsCustomPaper(const GDI_START_PAGE_PARAM& page, int platform) {
  const PLATFORM_FACTS* facts = GetPlatformFacts(platform);
  return facts != nullptr && page.paperSize == facts->customPaperCode;
}

// Constant fields of the 36-byte toner parameter record, offsets 3-34.
const unsigned char kTonerParamK8244[32] = {
    0,  30, 36, 38, 47, 80, 6,  32, 32, 32, 40, 44, 32, 32, 32, 32,
    32, 32, 32, 32, 32, 32, 32, 32, 32, 32, 32, 32, 32, 32, 10, 0};
// Constant fields of the 40-byte toner parameter record, offsets 3-38.
const unsigned char kTonerParamT9366[36] = {
    0,  23, 38, 0,  48, 64, 32, 23, 32, 32, 0,  0,  32, 32, 32, 32, 32, 32,
    32, 32, 32, 32, 32, 32, 32, 32, 32, 32, 32, 8,  10, 0,  0,  0,  0,  0};
// The 36 big-endian 16-bit values of the M toner parameter command.
const unsigned short kTonerParamM[36] = {
    0,   81,  115, 110, 150, 122, 100, 150, 200, 100, 81,                   // ver ... tonerSave
    100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100,         // temperaLow ... printSpeed_3
    120, 135, 150, 180, 200,                                                 // highSpeedCoverRate_1..5
    120, 150, 190, 350, 400,                                                 // lowSpeedCoverRate_1..5
    100, 100};                                                               // idle, dpi1200

}  // namespace

int GetJobSpecCmd_Z(PGDI_START_DOC_PARAM doc, GDI_JOB_SPEC_Z* cmd) {
  BeginShortRecord(cmd->bytes, 0x11);
  cmd->bytes[3] = JobFlags(*doc);
  PutLE32(cmd->bytes + 4, static_cast<unsigned long>(static_cast<unsigned int>(doc->jobID)));
  SealShortRecord(cmd->bytes);
  return 1;
}

int GetJobSpecCmd_C(PGDI_START_DOC_PARAM doc, GDI_JOB_SPEC_C* cmd) {
  BeginShortRecord(cmd->bytes, 0x11);
  cmd->bytes[3] = static_cast<unsigned char>(doc->jobID);
  cmd->bytes[4] = JobFlags(*doc);
  SealShortRecord(cmd->bytes);
  return 1;
}

int GetTonerSaveCmd(PGDI_START_DOC_PARAM doc, GDI_TONER_SAVE* cmd) {
  BeginShortRecord(cmd->bytes, 0x19);
  cmd->bytes[3] = static_cast<unsigned char>(doc->tonerSaveEnable);
  SealShortRecord(cmd->bytes);
  return 1;
}

int GetFineModeCmd(PGDI_START_DOC_PARAM doc, GDI_FINEMODE* cmd) {
  BeginShortRecord(cmd->bytes, 0x1F);
  cmd->bytes[3] = doc->FineMode;
  SealShortRecord(cmd->bytes);
  return 1;
}

int GetDensityCmd(PGDI_START_DOC_PARAM doc, GDI_DENSITY_PARAM* cmd) {
  BeginShortRecord(cmd->bytes, 0x15);
  cmd->bytes[3] = doc->densityLevel;
  SealShortRecord(cmd->bytes);
  return 1;
}

int GetTonerParamCmdForK5916(PGDI_START_DOC_PARAM, GDI_TONER_PARAM_K8244* cmd) {
  BeginShortRecord(cmd->bytes, 0x1E);
  memcpy(cmd->bytes + 3, kTonerParamK8244, sizeof kTonerParamK8244);
  SealShortRecord(cmd->bytes);
  return 1;
}

int GetTonerParamCmdForT9366(PGDI_START_DOC_PARAM, GDI_TONER_PARAM_T9366* cmd) {
  BeginShortRecord(cmd->bytes, 0x1E);
  memcpy(cmd->bytes + 3, kTonerParamT9366, sizeof kTonerParamT9366);
  SealShortRecord(cmd->bytes);
  return 1;
}

int GetTonerParamCmdForPlatformM(GDI_TONER_PARAM_PLATFORM_M* cmd, unsigned long cmdLen,
                                 unsigned long cmdType, unsigned long cmdParamNumber,
                                 unsigned short cmdParamNumberLen, unsigned short cmdSignature) {
  GDI_JOB_SPEC_M header;
  SetCmdType(&header, cmdLen, cmdType, cmdParamNumber, cmdParamNumberLen, cmdSignature);
  memcpy(cmd->bytes, header.bytes, sizeof header.bytes);
  for (size_t i = 0; i < 36; ++i) PutBE16(cmd->bytes + kMHeaderLen + 2 * i, kTonerParamM[i]);
  return 1;
}

int GetSysTimeCmd(GDI_SYSTEM_DATE* cmd) {
  if (cmd == nullptr) return 0;
  time_t now = time(nullptr);
  struct tm local;
  localtime_r(&now, &local);
  BeginShortRecord(cmd->bytes, 0x1F);
  PutLE16(cmd->bytes + 3, static_cast<unsigned long>(local.tm_year + 1900));
  cmd->bytes[5] = static_cast<unsigned char>(local.tm_mon + 1);
  cmd->bytes[6] = static_cast<unsigned char>(local.tm_mday);
  SealShortRecord(cmd->bytes);
  return 1;
}

int GetPageSpecCmd(PGDI_START_PAGE_PARAM page, GDI_PAGE_SPEC* cmd, int platform) {
  BeginShortRecord(cmd->bytes, 0x12);
  cmd->bytes[3] = static_cast<unsigned char>(page->paperSize);
  cmd->bytes[4] = static_cast<unsigned char>(page->mediaType);
  cmd->bytes[5] = static_cast<unsigned char>(page->resolutionX);
  cmd->bytes[6] = static_cast<unsigned char>(page->resolutionY);
  cmd->bytes[7] = static_cast<unsigned char>(page->tray);
  if (platform == PLATFORM_C) {
    cmd->bytes[8] = static_cast<unsigned char>(page->colorMode | page->feedEdge | page->marginUnit);
  }
  PutLE16(cmd->bytes + 9, page->copies);
  PutLE16(cmd->bytes + 11, page->marginX);
  PutLE16(cmd->bytes + 13, page->marginY);
  PutLE16(cmd->bytes + 15, page->pageNum);
  SealShortRecord(cmd->bytes);
  return 1;
}

int GetCustomPaperCmd(PGDI_START_PAGE_PARAM page, GDI_CUSTOM_PAPER* cmd, int platform) {
  BeginShortRecord(cmd->bytes, 0x13);
  if (IsCustomPaper(*page, platform)) {
    PutLE16(cmd->bytes + 3, page->userPhyPgW);
    PutLE16(cmd->bytes + 5, page->userPhyPgH);
    PutLE16(cmd->bytes + 7, page->userPrntAreaW);
    PutLE16(cmd->bytes + 9, page->userPrntAreaH);
  }
  SealShortRecord(cmd->bytes);
  return 1;
}

int GetRasterImageCmd(PGDI_SEND_PAGE_PARAM send, GDI_RASTER_IMAGE* cmd) {
  BeginShortRecord(cmd->bytes, 0x0C);
  cmd->bytes[3] = send->colorPlane;
  cmd->bytes[4] = static_cast<unsigned char>(send->colorDepth | send->dataPacking | send->compression);
  PutLE16(cmd->bytes + 5, send->whlImgW);
  PutLE16(cmd->bytes + 7, send->whlImgH);
  PutLE16(cmd->bytes + 9, send->rasImgW);
  PutLE16(cmd->bytes + 11, send->rasImgH);
  PutLE32(cmd->bytes + 13, static_cast<unsigned long>(static_cast<unsigned int>(send->cmpImgBytes)));
  SealShortRecord(cmd->bytes);
  return 1;
}

int GetImageDataChenksumCmd(GDI_IMAGE_DATA_CHECKSUM* cmd) {
  BeginShortRecord(cmd->bytes, 0x1A);
  PutLE16(cmd->bytes + 3, gImageChecksum & 0xFF);
  SealShortRecord(cmd->bytes);
  return 1;
}

int CoverageValue_C(unsigned long imageCoverage, int resolutionE, int densityE, int paperWidthE) {
  // Single precision and this order of multiplication: the printer's counters were tuned to it.
  float c = static_cast<float>(imageCoverage);
  float r = resolutionE == 1200 ? 0.25f : 1.0f;
  float d = 1.0f;
  if (densityE == 0 || densityE == 1) d = 0.7f;
  else if (densityE == 3 || densityE == 4) d = 1.2f;
  float w = 1.0f;
  if (paperWidthE >= 126 && paperWidthE <= 174) w = 1.5f;
  else if (paperWidthE <= 124) w = 2.0f;
  float v = w * ((c * r) * d) / 1000.0f;
  // Truncate toward zero; beyond 32 bits only the low bits matter, so go through 64 bits.
  long long wide = v < 9.0e18f ? static_cast<long long>(v) : 0;
  return static_cast<int>(static_cast<unsigned long long>(wide) & 0xFFFFu);
}

int GetCoverageCmd_C(PGDI_END_PAGE_PARAM end, GDI_COVERAGE_C* cmd) {
  int value = CoverageValue_C(gImageCoverage, end->resolutionE, end->densityE, end->paperWidthE);
  end->dotCnt = value;
  BeginShortRecord(cmd->bytes, 0x1E);
  PutLE16(cmd->bytes + 3, static_cast<unsigned long>(value));
  SealShortRecord(cmd->bytes);
  return 1;
}

int GetCoverageCmd_Z(GDI_COVERAGE_Z* cmd) {
  unsigned long q = gImageCoverage / 1000;
  BeginShortRecord(cmd->bytes, 0x19);
  cmd->bytes[3] = static_cast<unsigned char>(q & 0x3F);
  cmd->bytes[4] = static_cast<unsigned char>((q >> 6) & 0x3F);
  cmd->bytes[5] = static_cast<unsigned char>((q >> 12) & 0x0F);
  SealShortRecord(cmd->bytes);
  return 1;
}

void FormatSendTime(unsigned char* sendTimeCmd, int minute, int hour, int day, int month, int year) {
  char text[64];
  snprintf(text, sizeof text, "%02d:%02d:%02d:%02d:%04d\r\n", minute, hour, day, month, year);
  memcpy(sendTimeCmd, text, kSendTimeTextLen);
  sendTimeCmd[kSendTimeTextLen] = '\0';
}

int GetSendTimePJL(unsigned char* sendTimeCmd) {
  if (sendTimeCmd == nullptr) return 0;
  time_t now = time(nullptr);
  struct tm local;
  localtime_r(&now, &local);
  FormatSendTime(sendTimeCmd, local.tm_min, local.tm_hour, local.tm_mday, local.tm_mon + 1,
                 local.tm_year + 1900);
  return 1;
}

int SetCmdType(GDI_JOB_SPEC_M* cmd, unsigned long cmdLen, unsigned long cmdType,
               unsigned long cmdParamNumber, unsigned short cmdParamNumberLen,
               unsigned short cmdSignature) {
  PutBE32(cmd->bytes, cmdLen);
  PutBE32(cmd->bytes + 4, cmdType);
  PutBE32(cmd->bytes + 8, cmdParamNumber);
  PutBE16(cmd->bytes + 12, cmdParamNumberLen);
  PutBE16(cmd->bytes + 14, cmdSignature);
  return 1;
}

int SetCmdParam(GDI_SET_PARAM* param, unsigned short ParamCmd, unsigned char ParamType,
                unsigned long cmdParamValue) {
  PutBE32(param->bytes, kMParamLen);
  PutBE16(param->bytes + 4, ParamCmd);
  param->bytes[6] = ParamType;
  param->bytes[7] = 0;
  PutBE32(param->bytes + 8, cmdParamValue);
  return 1;
}

int SetJBIGCmdAndParam(GDI_SET_JBIG_PARAM* cmd, JBIG_BIH bih, unsigned long cmdLen,
                       unsigned long cmdType, unsigned short cmdSignature) {
  GDI_JOB_SPEC_M header;
  SetCmdType(&header, cmdLen, cmdType, 0, 0, cmdSignature);
  unsigned char* p = cmd->bytes;
  memcpy(p, header.bytes, sizeof header.bytes);
  p[16] = bih.ParamDl;
  p[17] = bih.ParamD;
  p[18] = bih.ParamP;
  p[19] = bih.ParamReserved;
  PutBE32(p + 20, bih.ParamImgWidth);
  PutBE32(p + 24, bih.ParamImgHeight);
  PutBE32(p + 28, bih.ParamL0);
  p[32] = bih.ParamMx;
  p[33] = bih.ParamMy;
  p[34] = bih.ParamOrder;
  p[35] = bih.ParamOption;
  return 1;
}

int GetStartPageParams_M(PGDI_START_PAGE_PARAM page, M_PAGE_PARAM_ENTRY* entries) {
  const unsigned long bitsPerPixel = page->iIs2bit == 1 ? 2 : 1;
  const bool custom = IsCustomPaper(*page, PLATFORM_M);
  int n = 0;
  auto add = [&](unsigned short id, const char* item, unsigned long value) {
    entries[n++] = M_PAGE_PARAM_ENTRY{id, item, value};
  };
  add(0x0003, "PAPER_SIZE_PARAM", page->paperSize);
  if (custom) {
    add(0x001A, "CUSTOM_PAPER_UNIT_PARAM", 0);
    add(0x0018, "CUSTOM_WIDTH_PARAM", page->userPhyPgW);
    add(0x0019, "CUSTOM_HEIGHT_PARAM", page->userPhyPgH);
  }
  add(0x0004, "COPIES_PARAM", page->copies);
  add(0x0005, "INPUT_TRAY_PARAM", page->tray);
  add(0x0006, "MEDIA_TYPE_PARAM", page->mediaType);
  add(0x0007, "CHANNEL_NUM_PARAM", 1);
  add(0x0008, "H_RESOLUTION_PARAM", page->resolutionX);
  add(0x0009, "V_RESOLUTION_PARAM", page->resolutionY);
  add(0x0016, "RET_PARAM", 0);
  add(0x000C, "IMG_WIDTH_PARAM", page->userPrntAreaW * bitsPerPixel);
  add(0x000D, "IMG_HEIGHT_PARAM", page->userPrntAreaH);
  add(0x0010, "VIDEO_DEPTH_PARAM", bitsPerPixel);
  add(0x0011, "VIDEO_WIDTH_PARAM", page->userPrntAreaW);
  add(0x0012, "VIDEO_HEIGHT_PARAM", page->userPrntAreaH);
  add(0xFF00, "DENSITY_PARAM", page->densityLevel);
  return n;
}

void PutBandRecordHead(unsigned char* record, const JBIG_BIH& bih) {
  memset(record, 0, kBandRecordLen);
  record[0] = 0x0B;
  record[1] = kBandRecordLen;
  record[2] = 0x1A;
  record[3] = 0;  // DL
  record[4] = 0;  // D
  record[5] = bih.ParamP;
  PutLE32(record + 7, bih.ParamImgWidth);
  PutLE32(record + 11, bih.ParamL0);
  PutLE32(record + 15, bih.ParamImgHeight);
  record[19] = bih.ParamMx;
  record[20] = bih.ParamMy;
  record[21] = bih.ParamOrder;
  record[22] = bih.ParamOption;
}

void PutBandRecordTail(unsigned char* record, unsigned long compressedBytes, unsigned long bandIndex) {
  unsigned char* info = record + kBandInfoOffset;
  PutLE32(info, compressedBytes);       // compDataSize
  PutLE32(info + 4, compressedBytes);   // compDataSizePadded
  PutLE32(info + 8, 0);                 // posHorz
  PutLE32(info + 12, (bandIndex & 0xFFFFFF) * kZBandLines);  // posVert
  PutLE32(info + 16, 3);                // plane
  PutLE32(info + 20, 0);                // bitSlicePane
  record[kBandRecordLen - 1] = CalcChecksum(record, kBandRecordLen - 1);
}

unsigned int ByteSum(const unsigned char* data, size_t len) {
  unsigned int sum = 0;
  for (size_t i = 0; i < len; ++i) sum += data[i];
  return sum & 0xFF;
}
