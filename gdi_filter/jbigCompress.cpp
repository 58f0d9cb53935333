// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// JBIG-KIT encoder calls.
#include "jbigCompress.h"

extern "C" {
#include <jbig.h>
}

std::vector<unsigned char>* gpCompImgData = nullptr;
unsigned int gJbigCompressDataLen = 0;

void jbig_data_out(unsigned char* buffer, size_t len, void*) {
  if (gpCompImgData == nullptr) return;
  gpCompImgData->insert(gpCompImgData->end(), buffer, buffer + len);
  gJbigCompressDataLen = static_cast<unsigned int>(gpCompImgData->size());
}

int JBIGCompress(JBIG_BIH JbigBih, unsigned char* pKPlaneData) {
  if (gpCompImgData == nullptr || pKPlaneData == nullptr || JbigBih.ParamP == 0) return 0;
  // Every plane reads the same bitmap; the encoder does not write to it (no resolution reduction).
  std::vector<unsigned char*> planes(JbigBih.ParamP, pKPlaneData);
  struct jbg_enc_state state;
  jbg_enc_init(&state, JbigBih.ParamImgWidth, JbigBih.ParamImgHeight, JbigBih.ParamP, planes.data(),
               jbig_data_out, nullptr);
  jbg_enc_layers(&state, 0);
  jbg_enc_lrange(&state, JbigBih.ParamDl, -1);
  jbg_enc_options(&state, JbigBih.ParamOrder, JbigBih.ParamOption, JbigBih.ParamL0, JbigBih.ParamMx, 0);
  jbg_enc_out(&state);
  jbg_enc_free(&state);
  return 1;
}
