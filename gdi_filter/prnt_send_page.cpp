// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Page compression and transmission: C single image, Z bands of 256 lines, M data commands.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

#include "common.h"
#include "jbigCompress.h"
#include "prnt.h"
#include "prnt_records.h"

unsigned long gImageChecksum = 0;

namespace {

enum { kCached = 1 };

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

const char kDataFail[] = "Prnt_SendPage() :: Send compressed data and cmd fail.  \n";
const char kRasterFail[] = "Prnt_SendPage() :: send cmdRasterImage Fail .  \n";

// Blocks larger than an int can describe go out in pieces. Nothing to send is no failure.
bool SendData(const unsigned char* data, size_t count) {
  const size_t piece = 1u << 30;
  for (size_t done = 0; done < count; done += piece) {
    if (!Send(data + done, std::min(piece, count - done), kDataFail)) return false;
  }
  return true;
}

// The image checksum of the C platform: the compressed bytes and the UEL that follows them.
void NoteImageChecksum(const JbigImage& image) {
  if (!image.complete) return;  // a failed image leaves the checksum as it was
  gImageChecksum = (ByteSum(image.data.get(), image.size) + ByteSum(UEL_CMD_C, sizeof UEL_CMD_C)) & 0xFF;
}

bool SendMData(const unsigned char* data, size_t n) {
  for (size_t done = 0; done < n; done += kMDataChunk) {
    const size_t chunk = std::min<size_t>(kMDataChunk, n - done);
    GDI_JOB_SPEC_M header;
    SetCmdType(&header, kMHeaderLen + chunk, JBIG_DATA_CMD, 0, 0, kMSignature);
    if (!SendDataToFile(header.bytes, sizeof header.bytes, kCached)) {
      ReportSendFailure("JBIG_DATA_CMD");
      return false;
    }
    if (!Send(data + done, chunk, kDataFail)) return false;
  }
  return true;
}

// Keeps the one image of a C or M page.
bool KeepImage(void* context, unsigned long, const JBIG_BIH&, JbigImage* image) {
  *static_cast<JbigImage*>(context) = std::move(*image);
  return true;
}

bool SendPage_C(PGDI_SEND_PAGE_PARAM send, JBIG_BIH bih) {
  JbigImage image;
  OutputJbigkitCompression(send, &bih, KeepImage, &image, PLATFORM_C);
  send->cmpImgBytes = static_cast<int>(image.size);
  GDI_RASTER_IMAGE raster;
  GetRasterImageCmd(send, &raster);
  if (!Send(raster.bytes, sizeof raster.bytes, kRasterFail)) return false;
  return SendData(image.data.get(), image.size);
}

// A Z band goes out as soon as it is compressed: its 48-byte record, then its data.
bool SendBand_Z(void*, unsigned long band, const JBIG_BIH& bih, JbigImage* image) {
  unsigned char record[kBandRecordLen];
  PutBandRecordHead(record, bih);
  PutBandRecordTail(record, image->size, band);  // a band that could not be compressed says 0
  return Send(record, sizeof record, kDataFail) && SendData(image->data.get(), image->size);
}

bool SendPage_Z(PGDI_SEND_PAGE_PARAM send, JBIG_BIH bih) {
  send->cmpImgBytes = 0;
  GDI_COVERAGE_Z coverage;
  GetCoverageCmd_Z(&coverage);
  if (!SendDataToFile(coverage.bytes, sizeof coverage.bytes, kCached)) {
    ReportSendFailure("cmdCoverage");
    return false;
  }
  Insert00();
  GDI_RASTER_IMAGE raster;
  GetRasterImageCmd(send, &raster);
  if (!Send(raster.bytes, sizeof raster.bytes, kRasterFail)) return false;
  return OutputJbigkitCompression(send, &bih, SendBand_Z, nullptr, PLATFORM_Z) >= 0;
}

bool SendPage_M(PGDI_SEND_PAGE_PARAM send, const JBIG_BIH& pageBih) {
  JBIG_BIH bih = pageBih;
  JbigImage image;
  OutputJbigkitCompression(send, &bih, KeepImage, &image, PLATFORM_M);
  send->cmpImgBytes = static_cast<int>(image.size);
  GDI_SET_JBIG_PARAM jbigParam;
  SetJBIGCmdAndParam(&jbigParam, pageBih, 36, JBIG_PARAM_CMD, kMSignature);
  if (!SendDataToFile(jbigParam.bytes, sizeof jbigParam.bytes, kCached)) {
    ReportSendFailure("JBIG_PARAM_CMD");
    return false;
  }
  if (!SendMData(image.data.get(), image.size)) return false;
  GDI_JOB_SPEC_M end;
  SetCmdType(&end, kMHeaderLen, JBIG_END_CMD, 0, 0, kMSignature);
  if (!SendDataToFile(end.bytes, sizeof end.bytes, kCached)) {
    ReportSendFailure("JBIG_END_CMD");
    return false;
  }
  return true;
}

}  // namespace

long OutputJbigkitCompression(PGDI_SEND_PAGE_PARAM pSendPageParam, JBIG_BIH* JbigBih, JBIG_IMAGE_OUTPUT output,
                              void* context, int platform) {
  const unsigned long height = JbigBih->ParamImgHeight;
  const unsigned long rowBytes = (JbigBih->ParamImgWidth + 7) / 8;
  const unsigned long bandLines = platform == PLATFORM_Z ? static_cast<unsigned long>(kZBandLines) : height;
  const unsigned char* page = reinterpret_cast<const unsigned char*>(pSendPageParam->sendImgBuf);
  long total = 0;
  for (unsigned long band = 0; bandLines > 0 && band * bandLines < height; ++band) {
    if (platform == PLATFORM_Z) {
      JbigBih->ParamImgHeight = std::min(bandLines, height - band * bandLines);
      JbigBih->ParamL0 = JbigBih->ParamImgHeight;
    }
    // The band is read in place from the page bitmap: its rows are contiguous there.
    JbigImage image;
    CompressImage(*JbigBih, page + band * bandLines * rowBytes, &image);
    NoteImageChecksum(image);
    total += static_cast<long>(image.size);
    if (!output(context, band, *JbigBih, &image)) return -1;
  }
  return total;
}

int Prnt_SendPage(PGDI_SEND_PAGE_PARAM pSendPageParam, int platform) {
  if (platform < PLATFORM_C || platform > PLATFORM_M || pSendPageParam == nullptr) return 0;
  if (pSendPageParam->sendImgBuf == nullptr) {
    PrependLastError("Prnt_SendPage() :: malloc Fail .  \n");
    return 0;
  }
  const JBIG_BIH bih = PageParameters(*pSendPageParam, platform);
  bool sent = false;
  if (platform == PLATFORM_C) sent = SendPage_C(pSendPageParam, bih);
  if (platform == PLATFORM_Z) sent = SendPage_Z(pSendPageParam, bih);
  if (platform == PLATFORM_M) sent = SendPage_M(pSendPageParam, bih);
  return sent ? 1 : 0;
}
