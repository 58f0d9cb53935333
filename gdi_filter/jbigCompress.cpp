// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// JBIG-KIT encoder calls.
#include "jbigCompress.h"

#include <cstring>
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

// Room for the 20-byte image header and the end of the last stripe, beyond twice the raw image,
// so that even a tiny image that does not compress fits.
constexpr size_t kJbigOverhead = 4096;

}  // namespace

void jbig_data_out(unsigned char* buffer, size_t len, void*) {
  if (gpCompImgData == nullptr || gJbigCompressOverflow) return;
  if (len > gJbigCompressCapacity - gJbigCompressDataLen) {
    gJbigCompressOverflow = true;
    return;
  }
  memcpy(gpCompImgData + gJbigCompressDataLen, buffer, len);
  gJbigCompressDataLen += static_cast<unsigned int>(len);
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
