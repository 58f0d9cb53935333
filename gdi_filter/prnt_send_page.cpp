// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Page compression and transmission: C single image, Z bands of 256 lines, M data commands.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "common.h"
#include "jbigCompress.h"
#include "prnt.h"
#include "prnt_records.h"

unsigned long gImageChecksum = 0;

namespace {

enum { kCached = 1 };

// The collecting buffer lives for the job: it only grows, so later pages reuse its memory.
std::vector<unsigned char> gCollect;

JBIG_BIH PageParameters(const GDI_SEND_PAGE_PARAM& send, int platform) {
  JBIG_BIH bih{};
  bih.ParamDl = 0;
  bih.ParamD = 0;
  bih.ParamP = 1;
  bih.ParamImgWidth = send.whlImgW;
  bih.ParamImgHeight = send.whlImgH;
  bih.ParamMy = 0;
  if (platform == PLATFORM_C) {
    bih.ParamL0 = send.rasImgH;
    bih.ParamMx = 8;
    bih.ParamOrder = 0;
    bih.ParamOption = 0x08;  // TPBON
  } else {
    bih.ParamL0 = kZBandLines;
    bih.ParamMx = 0;
    bih.ParamOrder = 0x03;                                   // ILEAVE | SMID
    bih.ParamOption = platform == PLATFORM_Z ? 0x58 : 0x5C;  // LRLTWO TPDON TPBON (+ DPON on M)
  }
  return bih;
}

bool Send(const void* data, size_t count, const char* message) {
  if (SendDataToFile(const_cast<void*>(data), static_cast<int>(count), kCached)) return true;
  PrependLastError(message);
  return false;
}

void ReportSendFailure(const char* item) {
  char message[256];
  snprintf(message, sizeof message, "Prnt_SendPage() :: send %s Fail 0 ==  \n", item);
  PrependLastError(message);
}

// Blocks larger than an int can describe go out in pieces.
bool SendData(const unsigned char* data, size_t count, const char* message) {
  const size_t piece = 1u << 30;
  for (size_t done = 0; done < count; done += piece) {
    if (!Send(data + done, std::min(piece, count - done), message)) return false;
  }
  return true;
}

bool SendMData(const std::vector<unsigned char>& data) {
  const size_t n = data.size();
  for (size_t done = 0; done < n; done += kMDataChunk) {
    const size_t chunk = std::min<size_t>(kMDataChunk, n - done);
    GDI_JOB_SPEC_M header;
    SetCmdType(&header, kMHeaderLen + chunk, JBIG_DATA_CMD, 0, 0, kMSignature);
    if (!SendDataToFile(header.bytes, sizeof header.bytes, kCached)) {
      ReportSendFailure("JBIG_DATA_CMD");
      return false;
    }
    if (!Send(data.data() + done, chunk, "Prnt_SendPage() :: Send compressed data and cmd fail.  \n")) return false;
  }
  return true;
}

}  // namespace

long OutputJbigkitCompression(PGDI_SEND_PAGE_PARAM pSendPageParam, JBIG_BIH* JbigBih,
                              std::vector<unsigned char>& outbuf, int platform) {
  const unsigned long width = JbigBih->ParamImgWidth;
  const unsigned long height = JbigBih->ParamImgHeight;
  const unsigned long rowBytes = (width + 7) / 8;
  const bool banded = platform == PLATFORM_Z;
  const unsigned long bandLines = banded ? static_cast<unsigned long>(kZBandLines) : height;
  const unsigned long bands = bandLines == 0 ? 0 : (height + bandLines - 1) / bandLines;
  unsigned char* page = reinterpret_cast<unsigned char*>(pSendPageParam->sendImgBuf);

  outbuf.clear();
  gpCompImgData = &gCollect;
  unsigned int uelSum = ByteSum(UEL_CMD_C, sizeof UEL_CMD_C);
  for (unsigned long band = 0; band < bands; ++band) {
    const unsigned long lines = std::min(bandLines, height - band * bandLines);
    gCollect.clear();
    gJbigCompressDataLen = 0;
    size_t recordPos = outbuf.size();
    if (banded) {
      JbigBih->ParamImgHeight = lines;
      JbigBih->ParamL0 = lines;
      outbuf.resize(recordPos + kBandRecordLen);
      PutBandRecordHead(outbuf.data() + recordPos, *JbigBih);
    }
    // The band is read in place from the page bitmap: its rows are contiguous there.
    unsigned char* bandData = page + band * bandLines * rowBytes;
    if (JBIGCompress(*JbigBih, bandData)) {
      gImageChecksum = (ByteSum(gCollect.data(), gCollect.size()) + uelSum) & 0xFF;
    } else {
      gCollect.clear();
    }
    if (banded) PutBandRecordTail(outbuf.data() + recordPos, gCollect.size(), band);
    outbuf.insert(outbuf.end(), gCollect.begin(), gCollect.end());
    gJbigCompressDataLen = 0;
  }
  gpCompImgData = nullptr;
  return static_cast<long>(outbuf.size());
}

int Prnt_SendPage(PGDI_SEND_PAGE_PARAM pSendPageParam, int platform) {
  if (platform < PLATFORM_C || platform > PLATFORM_M || pSendPageParam == nullptr) return 0;
  if (pSendPageParam->sendImgBuf == nullptr) {
    PrependLastError("Prnt_SendPage() :: malloc Fail .  \n");
    return 0;
  }
  std::vector<unsigned char> compressed;
  JBIG_BIH bih = PageParameters(*pSendPageParam, platform);
  const JBIG_BIH pageBih = bih;
  try {
    compressed.reserve(static_cast<size_t>(pSendPageParam->whlImgW) * pSendPageParam->whlImgH / 64 + 4096);
    OutputJbigkitCompression(pSendPageParam, &bih, compressed, platform);
  } catch (const std::bad_alloc&) {
    gpCompImgData = nullptr;
    PrependLastError("Prnt_SendPage() :: malloc Fail .  \n");
    return 0;
  }
  const size_t n = compressed.size();
  const char* dataFail = "Prnt_SendPage() :: Send compressed data and cmd fail.  \n";
  const char* rasterFail = "Prnt_SendPage() :: send cmdRasterImage Fail .  \n";

  if (platform == PLATFORM_C) {
    pSendPageParam->cmpImgBytes = static_cast<int>(n);
    GDI_RASTER_IMAGE raster;
    GetRasterImageCmd(pSendPageParam, &raster);
    if (!Send(raster.bytes, sizeof raster.bytes, rasterFail)) return 0;
    return SendData(compressed.data(), n, dataFail) ? 1 : 0;
  }
  if (platform == PLATFORM_Z) {
    pSendPageParam->cmpImgBytes = 0;
    GDI_COVERAGE_Z coverage;
    GetCoverageCmd_Z(&coverage);
    if (!SendDataToFile(coverage.bytes, sizeof coverage.bytes, kCached)) {
      ReportSendFailure("cmdCoverage");
      return 0;
    }
    Insert00();
    GDI_RASTER_IMAGE raster;
    GetRasterImageCmd(pSendPageParam, &raster);
    if (!Send(raster.bytes, sizeof raster.bytes, rasterFail)) return 0;
    return SendData(compressed.data(), n, dataFail) ? 1 : 0;
  }
  pSendPageParam->cmpImgBytes = static_cast<int>(n);
  GDI_SET_JBIG_PARAM jbigParam;
  SetJBIGCmdAndParam(&jbigParam, pageBih, 36, JBIG_PARAM_CMD, kMSignature);
  if (!SendDataToFile(jbigParam.bytes, sizeof jbigParam.bytes, kCached)) {
    ReportSendFailure("JBIG_PARAM_CMD");
    return 0;
  }
  if (!SendMData(compressed)) return 0;
  GDI_JOB_SPEC_M end;
  SetCmdType(&end, kMHeaderLen, JBIG_END_CMD, 0, 0, kMSignature);
  if (!SendDataToFile(end.bytes, sizeof end.bytes, kCached)) {
    ReportSendFailure("JBIG_END_CMD");
    return 0;
  }
  return 1;
}
