// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// JBIG-KIT encoder calls.
#include "jbigCompress.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

extern "C" {
#include <jbig.h>
}

thread_local unsigned char* gpCompImgData = nullptr;
thread_local unsigned int gJbigCompressDataLen = 0;
thread_local size_t gJbigCompressCapacity = 0;
thread_local bool gJbigCompressOverflow = false;
std::atomic<unsigned long> gIncompleteImages{0};

namespace {

// The pacing of the image being compressed on this thread, or null.
thread_local JbigRowPacing* gJbigPacing = nullptr;

// Room for the 20-byte image header and the end of the last stripe, beyond twice the raw image,
// so that even a tiny image that does not compress fits.
constexpr size_t kJbigOverhead = 4096;

// Markers of the stripe data (T.82): an escape byte, then the marker code.
constexpr unsigned char kEsc = 0xFF, kStuff = 0x00, kSdnorm = 0x02, kSdrst = 0x03, kNewlen = 0x05,
                        kAtmove = 0x06, kComment = 0x07;

// Follows the encoder's output up to the end of each stripe; returns the rows the encoder may
// read next (those of the stripe after the last one that ended).
unsigned long RowsWanted(JbigRowPacing* p, const unsigned char* data, size_t len) {
  for (size_t i = 0; i < len; ++i) {
    const unsigned char b = data[i];
    if (p->headerLeft > 0) {
      --p->headerLeft;
    } else if (p->marker == 2) {
      if (--p->skip == 0) p->marker = 0;
    } else if (p->marker == 1) {
      p->marker = 0;
      if (b == kSdnorm || b == kSdrst) {
        ++p->stripesDone;
        if (p->rowsDone != nullptr) p->rowsDone(p->context, std::min(p->height, p->stripesDone * p->l0));
      }
      // A comment's length is not followed; the encoder writes none.
      if (b == kNewlen || b == kComment) p->marker = 2, p->skip = 4;
      if (b == kAtmove) p->marker = 2, p->skip = 6;
      if (b == kStuff || b == kEsc) p->marker = b == kEsc ? 1 : 0;
    } else if (b == kEsc) {
      p->marker = 1;
    }
  }
  if (p->headerLeft > 0) return 0;
  return std::min(p->height, (p->stripesDone + 1) * p->l0);
}

}  // namespace

void jbig_data_out(unsigned char* buffer, size_t len, void*) {
  if (gpCompImgData == nullptr) return;
  if (!gJbigCompressOverflow && len > gJbigCompressCapacity - gJbigCompressDataLen) gJbigCompressOverflow = true;
  if (!gJbigCompressOverflow) {
    memcpy(gpCompImgData + gJbigCompressDataLen, buffer, len);
    gJbigCompressDataLen += static_cast<unsigned int>(len);
  }
  // Also after an overflow the encoder goes on to the end of the image: it must not read rows
  // that are not there yet.
  if (gJbigPacing != nullptr) {
    unsigned long rows = RowsWanted(gJbigPacing, buffer, len);
    if (rows > 0) gJbigPacing->waitForRows(gJbigPacing->context, rows);
  }
}

int JBIGCompress(JBIG_BIH JbigBih, unsigned char* pKPlaneData) {
  if (gpCompImgData == nullptr || pKPlaneData == nullptr || JbigBih.ParamP == 0) return 0;
  // Every plane reads the same bitmap; the encoder does not write to it (no resolution reduction).
  // The plane table is the one allocation here, made before the encoder exists.
  unsigned char* planes[8];
  if (JbigBih.ParamP > sizeof planes / sizeof planes[0]) return 0;
  for (unsigned i = 0; i < JbigBih.ParamP; ++i) planes[i] = pKPlaneData;
  gJbigCompressOverflow = false;
  struct jbg_enc_state state;
  jbg_enc_init(&state, JbigBih.ParamImgWidth, JbigBih.ParamImgHeight, static_cast<int>(JbigBih.ParamP), planes,
               jbig_data_out, nullptr);
  jbg_enc_layers(&state, 0);
  jbg_enc_lrange(&state, JbigBih.ParamDl, -1);
  jbg_enc_options(&state, JbigBih.ParamOrder, JbigBih.ParamOption, JbigBih.ParamL0, JbigBih.ParamMx, 0);
  jbg_enc_out(&state);
  jbg_enc_free(&state);
  return gJbigCompressOverflow ? 0 : 1;
}

void CompressImagePaced(const JBIG_BIH& bih, const unsigned char* rows, JbigRowPacing* pacing, JbigImage* image) {
  if (pacing != nullptr) {
    pacing->l0 = bih.ParamL0 > 0 ? bih.ParamL0 : bih.ParamImgHeight;
    pacing->height = bih.ParamImgHeight;
    pacing->stripesDone = 0;
    pacing->headerLeft = 20;
    pacing->marker = 0;
    pacing->skip = 0;
  }
  gJbigPacing = pacing;
  CompressImage(bih, rows, image);
  gJbigPacing = nullptr;
}

void CompressImage(const JBIG_BIH& bih, const unsigned char* rows, JbigImage* image) {
  image->data.reset();
  image->size = 0;
  image->complete = false;
  const size_t raw = (static_cast<size_t>(bih.ParamImgWidth) + 7) / 8 * bih.ParamImgHeight;
  const size_t capacity = 2 * raw + kJbigOverhead;
  // gJbigCompressDataLen counts in an unsigned int: a larger image is refused, not wrapped.
  if (capacity <= static_cast<size_t>(~0u)) image->data.reset(static_cast<unsigned char*>(malloc(capacity)));
  if (image->data) {
    gpCompImgData = image->data.get();
    gJbigCompressCapacity = capacity;
    gJbigCompressDataLen = 0;
    image->complete = JBIGCompress(bih, const_cast<unsigned char*>(rows)) == 1;
    image->size = image->complete ? gJbigCompressDataLen : 0;
    gpCompImgData = nullptr;
    gJbigCompressCapacity = 0;
    gJbigCompressDataLen = 0;
  }
  if (!image->complete) {
    image->data.reset();
    ++gIncompleteImages;
  }
}

namespace {

// The probe: an image of a few stripes whose rows are written only when the encoder is allowed
// to read them; the result must be the image that a plain compression of the finished rows gives.
struct Probe {
  std::vector<unsigned char> rows;
  size_t rowBytes = 0;
  unsigned long made = 0;
};

void MakeProbeRow(Probe* probe, unsigned long y) {
  for (size_t x = 0; x < probe->rowBytes; ++x)
    probe->rows[y * probe->rowBytes + x] = static_cast<unsigned char>((y * 37 + x * 11) ^ (x % 3 ? 0x5A : 0xC3));
}

void ProbeRowsOnDemand(void* context, unsigned long rows) {
  Probe* probe = static_cast<Probe*>(context);
  for (; probe->made < rows; ++probe->made) MakeProbeRow(probe, probe->made);
}

bool ProbeWorks(unsigned char order, unsigned char options, unsigned char mx) {
  JBIG_BIH bih{};
  bih.ParamP = 1;
  bih.ParamImgWidth = 64;
  bih.ParamImgHeight = 11;
  bih.ParamL0 = 3;
  bih.ParamMx = mx;
  bih.ParamOrder = order;
  bih.ParamOption = options;
  Probe probe;
  probe.rowBytes = 8;
  probe.rows.assign(probe.rowBytes * bih.ParamImgHeight, 0);
  JbigRowPacing pacing;
  pacing.waitForRows = ProbeRowsOnDemand;
  pacing.context = &probe;
  JbigImage paced;
  CompressImagePaced(bih, probe.rows.data(), &pacing, &paced);
  JbigImage plain;
  CompressImage(bih, probe.rows.data(), &plain);
  return paced.complete && plain.complete && paced.size == plain.size &&
         memcmp(paced.data.get(), plain.data.get(), plain.size) == 0;
}

}  // namespace

bool PacedCompressionWorks(const JBIG_BIH& bih) {
  // Found once per set of encoder parameters; jobs may run on several threads at once.
  struct Known {
    unsigned char order, options, mx;
    bool works;
  };
  static std::mutex lock;
  static Known known[8];
  static size_t count = 0;
  std::lock_guard<std::mutex> hold(lock);
  for (size_t i = 0; i < count; ++i)
    if (known[i].order == bih.ParamOrder && known[i].options == bih.ParamOption && known[i].mx == bih.ParamMx)
      return known[i].works;
  const bool works = ProbeWorks(bih.ParamOrder, bih.ParamOption, bih.ParamMx);
  if (count < sizeof known / sizeof known[0]) known[count++] = {bih.ParamOrder, bih.ParamOption, bih.ParamMx, works};
  return works;
}
