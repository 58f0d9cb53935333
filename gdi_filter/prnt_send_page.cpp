// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Page compression and transmission: C single image, Z bands of 256 lines, M data commands. The
// platform table (platforms.cpp) gives the JBIG parameters and the bands, and which of SendPage_C,
// SendPage_Z and SendPage_M sends a page.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

#include "common.h"
#include "jbigCompress.h"
#include "platforms.h"
#include "prnt.h"
#include "prnt_records.h"

unsigned long gImageChecksum = 0;

namespace {

enum { kCached = 1 };

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

// Every image of a page, in the order they are sent, handed to use(band, bih, image): the images
// compressed ahead, or compressed now, one at a time, so that only one image's output exists at
// once. Notes the checksum of each and whether one could not be compressed. false when use
// stopped the page.
template <typename Use>
bool ForEachImage(PGDI_SEND_PAGE_PARAM send, const JBIG_BIH& page, JbigImage* ahead, int platform, bool* incomplete,
                  Use use) {
  auto take = [&](unsigned long band, const JBIG_BIH& bih, JbigImage* image) {
    NoteImageChecksum(*image);
    if (!image->complete) *incomplete = true;
    return use(band, bih, image);
  };
  if (ahead == nullptr) {
    JBIG_BIH bih = page;
    auto output = [](void* context, unsigned long band, const JBIG_BIH& image, JbigImage* made) {
      return (*static_cast<decltype(take)*>(context))(band, image, made);
    };
    return OutputJbigkitCompression(send, &bih, output, &take, platform) >= 0;
  }
  for (unsigned long band = 0; band < PageImageCount(page, platform); ++band) {
    if (!take(band, PageImageParameters(page, band, platform), &ahead[band])) return false;
  }
  return true;
}

bool SendImage_C(PGDI_SEND_PAGE_PARAM send, JbigImage* image) {
  send->cmpImgBytes = static_cast<int>(image->size);
  GDI_RASTER_IMAGE raster;
  GetRasterImageCmd(send, &raster);
  if (!Send(raster.bytes, sizeof raster.bytes, kRasterFail)) return false;
  return SendData(image->data.get(), image->size);
}

// The records before the bands of a Z page.
bool SendPageHead_Z(PGDI_SEND_PAGE_PARAM send) {
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
  return Send(raster.bytes, sizeof raster.bytes, kRasterFail);
}

// A Z band: its 48-byte record, then its data.
bool SendBand_Z(unsigned long band, const JBIG_BIH& bih, const JbigImage& image) {
  unsigned char record[kBandRecordLen];
  PutBandRecordHead(record, bih);
  PutBandRecordTail(record, image.size, band);  // a band that could not be compressed says 0
  return Send(record, sizeof record, kDataFail) && SendData(image.data.get(), image.size);
}

bool SendImage_M(PGDI_SEND_PAGE_PARAM send, const JBIG_BIH& pageBih, JbigImage* image) {
  send->cmpImgBytes = static_cast<int>(image->size);
  GDI_SET_JBIG_PARAM jbigParam;
  SetJBIGCmdAndParam(&jbigParam, pageBih, 36, JBIG_PARAM_CMD, kMSignature);
  if (!SendDataToFile(jbigParam.bytes, sizeof jbigParam.bytes, kCached)) {
    ReportSendFailure("JBIG_PARAM_CMD");
    return false;
  }
  if (!SendMData(image->data.get(), image->size)) return false;
  GDI_JOB_SPEC_M end;
  SetCmdType(&end, kMHeaderLen, JBIG_END_CMD, 0, 0, kMSignature);
  if (!SendDataToFile(end.bytes, sizeof end.bytes, kCached)) {
    ReportSendFailure("JBIG_END_CMD");
    return false;
  }
  return true;
}

// Sends the page with its images compressed now, or taken from ahead.
int SendPage(PGDI_SEND_PAGE_PARAM send, JbigImage* ahead, int platform, bool* incomplete) {
  bool missing = false;
  if (incomplete != nullptr) *incomplete = false;
  const PLATFORM_FACTS* facts = GetPlatformFacts(platform);
  if (facts == nullptr || send == nullptr) return 0;
  if (send->sendImgBuf == nullptr && ahead == nullptr) {
    PrependLastError("Prnt_SendPage() :: malloc Fail .  \n");
    return 0;
  }
  const bool sent = facts->sendPage(send, PageJbigParameters(send, platform), ahead, &missing);
  if (incomplete != nullptr) *incomplete = missing;
  return sent ? 1 : 0;
}

}  // namespace

// ---- The page sequences of the platform table ----

bool SendPage_C(PGDI_SEND_PAGE_PARAM send, const JBIG_BIH& page, JbigImage* ahead, bool* incomplete) {
  return ForEachImage(send, page, ahead, PLATFORM_C, incomplete,
                      [&](unsigned long, const JBIG_BIH&, JbigImage* image) { return SendImage_C(send, image); });
}

bool SendPage_Z(PGDI_SEND_PAGE_PARAM send, const JBIG_BIH& page, JbigImage* ahead, bool* incomplete) {
  return SendPageHead_Z(send) &&
         ForEachImage(send, page, ahead, PLATFORM_Z, incomplete,
                      [](unsigned long band, const JBIG_BIH& bih, JbigImage* image) {
                        return SendBand_Z(band, bih, *image);
                      });
}

bool SendPage_M(PGDI_SEND_PAGE_PARAM send, const JBIG_BIH& page, JbigImage* ahead, bool* incomplete) {
  return ForEachImage(send, page, ahead, PLATFORM_M, incomplete, [&](unsigned long, const JBIG_BIH&, JbigImage* image) {
    return SendImage_M(send, page, image);
  });
}

JBIG_BIH PageJbigParameters(const GDI_SEND_PAGE_PARAM* send, int platform) {
  JBIG_BIH bih{};
  bih.ParamDl = 0;
  bih.ParamD = 0;
  bih.ParamP = 1;
  bih.ParamImgWidth = send->whlImgW;
  bih.ParamImgHeight = send->whlImgH;
  bih.ParamMy = 0;
  const PLATFORM_FACTS* facts = GetPlatformFacts(platform);
  if (facts == nullptr) return bih;
  bih.ParamL0 = facts->jbigL0 != 0 ? facts->jbigL0 : send->rasImgH;
  bih.ParamMx = facts->jbigMx;
  bih.ParamOrder = facts->jbigOrder;
  bih.ParamOption = facts->jbigOptions;
  return bih;
}

unsigned long PageImageCount(const JBIG_BIH& page, int platform) {
  const PLATFORM_FACTS* facts = GetPlatformFacts(platform);
  if (facts == nullptr) return 0;
  if (facts->bandLines == 0) return 1;
  return (page.ParamImgHeight + facts->bandLines - 1) / facts->bandLines;
}

JBIG_BIH PageImageParameters(const JBIG_BIH& page, unsigned long image, int platform) {
  JBIG_BIH bih = page;
  const PLATFORM_FACTS* facts = GetPlatformFacts(platform);
  if (facts != nullptr && facts->bandLines != 0) {
    bih.ParamImgHeight = std::min<unsigned long>(facts->bandLines, page.ParamImgHeight - image * facts->bandLines);
    bih.ParamL0 = bih.ParamImgHeight;
  }
  return bih;
}

const unsigned char* PageImageRows(const GDI_SEND_PAGE_PARAM* send, const JBIG_BIH& page, unsigned long image,
                                   int platform) {
  const size_t rowBytes = (static_cast<size_t>(page.ParamImgWidth) + 7) / 8;
  const PLATFORM_FACTS* facts = GetPlatformFacts(platform);
  const size_t bandLines = facts != nullptr ? facts->bandLines : 0;
  const size_t firstRow = static_cast<size_t>(image) * bandLines;
  // The image is read in place from the page bitmap: its rows are contiguous there.
  return reinterpret_cast<const unsigned char*>(send->sendImgBuf) + firstRow * rowBytes;
}

long OutputJbigkitCompression(PGDI_SEND_PAGE_PARAM pSendPageParam, JBIG_BIH* JbigBih, JBIG_IMAGE_OUTPUT output,
                              void* context, int platform) {
  const JBIG_BIH page = *JbigBih;
  long total = 0;
  for (unsigned long image = 0; image < PageImageCount(page, platform); ++image) {
    *JbigBih = PageImageParameters(page, image, platform);
    JbigImage made;
    CompressImage(*JbigBih, PageImageRows(pSendPageParam, page, image, platform), &made);
    total += static_cast<long>(made.size);
    if (!output(context, image, *JbigBih, &made)) return -1;
  }
  return total;
}

int SendCompressedPage(PGDI_SEND_PAGE_PARAM pSendPageParam, JbigImage* images, int platform, bool* incomplete) {
  return SendPage(pSendPageParam, images, platform, incomplete);
}

int Prnt_SendPage(PGDI_SEND_PAGE_PARAM pSendPageParam, int platform) {
  return SendPage(pSendPageParam, nullptr, platform, nullptr);
}
