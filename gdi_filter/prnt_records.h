// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Every byte layout of the host-based printer language, apart from the JBIG data itself:
// PJL texts, fixed commands, the checksummed short records of the C and Z platforms and the
// big-endian header/parameter commands of the M platform.
//
// Records are plain byte arrays filled through explicit little/big-endian put helpers, so the
// wire layout never depends on the compiler's structure packing.
#pragma once

#include <cstddef>

#include "prnt.h"

// ---- Text constants (sent without their terminating NUL) ----
extern const unsigned char UEL_CMD[9];
extern const unsigned char UEL_CMD_C[9];
extern const unsigned char PJLheader[15];
extern const unsigned char pjlCmd[24];
extern const unsigned char pjlVersion[26];
extern const unsigned char pjlPreSendTime[13];
extern const unsigned char pjlPreComputerName[14];
extern const unsigned char CRLF[2];
extern const unsigned char endOfJobCmd[36];
extern const unsigned char fwVer[16];
extern const unsigned char pjlJZJZ_K4257[4];

enum { kSendTimeTextLen = 18, kHostNameMaxLen = 32 };
extern unsigned char pjlPostSendTime[kSendTimeTextLen + 1];
extern unsigned char pjlPostComputerName[kHostNameMaxLen + 1];

// ---- Fixed short records (complete with checksum) ----
extern const unsigned char abortCmd[4];
extern const unsigned char resetCmd[4];
extern const unsigned char formFeedCmd[4];
extern const unsigned char manualDuplexCmd_Z[4];
extern const unsigned char manualDuplexCmd_C[4];
extern const unsigned char hostUseCmd[4];
extern const unsigned char machineDuplexCmd[4];
extern const unsigned char queryStatusCmd[5];

// ---- Built records: one byte array per record type ----
struct GDI_JOB_SPEC_Z { unsigned char bytes[9]; };
struct GDI_JOB_SPEC_C { unsigned char bytes[6]; };
struct GDI_TONER_SAVE { unsigned char bytes[5]; };
struct GDI_FINEMODE { unsigned char bytes[5]; };
struct GDI_DENSITY_PARAM { unsigned char bytes[5]; };
struct GDI_SYSTEM_DATE { unsigned char bytes[8]; };
struct GDI_TONER_PARAM_K8244 { unsigned char bytes[36]; };
struct GDI_TONER_PARAM_T9366 { unsigned char bytes[40]; };
struct GDI_PAGE_SPEC { unsigned char bytes[18]; };
struct GDI_CUSTOM_PAPER { unsigned char bytes[12]; };
struct GDI_RASTER_IMAGE { unsigned char bytes[18]; };
struct GDI_IMAGE_DATA_CHECKSUM { unsigned char bytes[6]; };
struct GDI_COVERAGE_C { unsigned char bytes[6]; };
struct GDI_COVERAGE_Z { unsigned char bytes[7]; };
// M platform: command header, parameter entry, JBIG parameters, toner parameters.
struct GDI_JOB_SPEC_M { unsigned char bytes[16]; };
struct GDI_SET_PARAM { unsigned char bytes[12]; };
struct GDI_SET_JBIG_PARAM { unsigned char bytes[36]; };
struct GDI_TONER_PARAM_PLATFORM_M { unsigned char bytes[88]; };

// Z band record, written ahead of every compressed band: bytes 0-22 describe the band's JBIG
// parameters, bytes 23-46 are the BandInfo fields, byte 47 the checksum.
enum { kBandRecordLen = 48, kBandInfoOffset = 23, kZBandLines = 256 };

// M command types and the signature of every M header.
enum {
  START_DOC_CMD = 0,
  END_DOC_CMD = 1,
  START_PAGE_CMD = 2,
  END_PAGE_CMD = 3,
  JBIG_PARAM_CMD = 4,
  JBIG_DATA_CMD = 5,
  JBIG_END_CMD = 6,
  MANUAL_DUPLEX_CMD = 11,
  TONER_PARAM = 17,
};
enum { kMSignature = 0x5A5A, kMHeaderLen = 16, kMParamLen = 12, kMDataChunk = 65536 };

// ---- Builders: fill the record in the caller's storage, return 1 ----
int GetJobSpecCmd_Z(PGDI_START_DOC_PARAM pStartDocParam, GDI_JOB_SPEC_Z* pCmd);
int GetJobSpecCmd_C(PGDI_START_DOC_PARAM pStartDocParam, GDI_JOB_SPEC_C* pCmd);
int GetTonerSaveCmd(PGDI_START_DOC_PARAM pStartDocParam, GDI_TONER_SAVE* pCmd);
int GetFineModeCmd(PGDI_START_DOC_PARAM pStartDocParam, GDI_FINEMODE* pCmd);
int GetDensityCmd(PGDI_START_DOC_PARAM pStartDocParam, GDI_DENSITY_PARAM* pCmd);
int GetTonerParamCmdForK5916(PGDI_START_DOC_PARAM pStartDocParam, GDI_TONER_PARAM_K8244* pCmd);
int GetTonerParamCmdForT9366(PGDI_START_DOC_PARAM pStartDocParam, GDI_TONER_PARAM_T9366* pCmd);
int GetTonerParamCmdForPlatformM(GDI_TONER_PARAM_PLATFORM_M* pCmd, unsigned long cmdLen,
                                 unsigned long cmdType, unsigned long cmdParamNumber,
                                 unsigned short cmdParamNumberLen, unsigned short cmdSignature);
// The only builder that can fail: 0 for a null record.
int GetSysTimeCmd(GDI_SYSTEM_DATE* pCmd);
int GetPageSpecCmd(PGDI_START_PAGE_PARAM pStartPageParam, GDI_PAGE_SPEC* pCmd, int platform);
int GetCustomPaperCmd(PGDI_START_PAGE_PARAM pStartPageParam, GDI_CUSTOM_PAPER* pCmd, int platform);
int GetRasterImageCmd(PGDI_SEND_PAGE_PARAM pSendPageParam, GDI_RASTER_IMAGE* pCmd);
int GetImageDataChenksumCmd(GDI_IMAGE_DATA_CHECKSUM* pCmd);
// Also stores the coverage value in pEndPageParam->dotCnt.
int GetCoverageCmd_C(PGDI_END_PAGE_PARAM pEndPageParam, GDI_COVERAGE_C* pCmd);
int GetCoverageCmd_Z(GDI_COVERAGE_Z* pCmd);
// The minute-first local time text "MM:HH:DD:MM:YYYY\r\n" (18 bytes and a NUL).
int GetSendTimePJL(unsigned char* sendTimeCmd);
int SetCmdType(GDI_JOB_SPEC_M* pCmd, unsigned long cmdLen, unsigned long cmdType,
               unsigned long cmdParamNumber, unsigned short cmdParamNumberLen,
               unsigned short cmdSignature);
int SetCmdParam(GDI_SET_PARAM* pParam, unsigned short ParamCmd, unsigned char ParamType,
                unsigned long cmdParamValue);
int SetJBIGCmdAndParam(GDI_SET_JBIG_PARAM* pCmd, JBIG_BIH JbigBih, unsigned long cmdLen,
                       unsigned long cmdType, unsigned short cmdSignature);

// One entry of the M START_PAGE_CMD: parameter id, the item name used in failure messages, value.
struct M_PAGE_PARAM_ENTRY {
  unsigned short id;
  const char* item;
  unsigned long value;
};
enum { kMPageParamsMax = 17 };
// Fills the START_PAGE_CMD entries in their wire order; returns their number (14, or 17 for a
// custom size, paperSize 0).
int GetStartPageParams_M(PGDI_START_PAGE_PARAM pStartPageParam, M_PAGE_PARAM_ENTRY* entries);

// Z band record halves: the JBIG description before compression, the sizes after it.
void PutBandRecordHead(unsigned char* record, const JBIG_BIH& bih);
void PutBandRecordTail(unsigned char* record, unsigned long compressedBytes, unsigned long bandIndex);

// The coverage value of the C coverage record for the given page accumulator and end-of-page
// parameters (also what GetCoverageCmd_C stores in dotCnt).
int CoverageValue_C(unsigned long imageCoverage, int resolutionE, int densityE, int paperWidthE);

// Formatting of the job time text from a broken-down local time (minute, hour, day, month, year).
void FormatSendTime(unsigned char* sendTimeCmd, int minute, int hour, int day, int month, int year);

// 8-bit sum of a byte block.
unsigned int ByteSum(const unsigned char* data, size_t len);

// ---- Explicit byte-order helpers ----
inline void PutLE16(unsigned char* p, unsigned long v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
}
inline void PutLE32(unsigned char* p, unsigned long v) {
  PutLE16(p, v);
  PutLE16(p + 2, v >> 16);
}
inline void PutBE16(unsigned char* p, unsigned long v) {
  p[0] = static_cast<unsigned char>(v >> 8);
  p[1] = static_cast<unsigned char>(v);
}
inline void PutBE32(unsigned char* p, unsigned long v) {
  PutBE16(p, v >> 16);
  PutBE16(p + 2, v);
}
