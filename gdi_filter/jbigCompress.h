// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// JBIG (T.82) compression of one page or band through JBIG-KIT.
#pragma once

#include <cstddef>
#include <vector>

#include "prnt.h"

// Collects the encoder's output of the band being compressed; grows as needed, so a page that
// compresses badly is never cut. Null outside OutputJbigkitCompression.
extern std::vector<unsigned char>* gpCompImgData;
extern unsigned int gJbigCompressDataLen;

// Encodes the image pKPlaneData (JbigBih's width x height, rows byte-aligned) and appends the
// complete bi-level image entity to gpCompImgData. 1 on success, 0 when nothing can be collected.
int JBIGCompress(JBIG_BIH JbigBih, unsigned char* pKPlaneData);
// The encoder's output callback: appends len bytes to gpCompImgData.
void jbig_data_out(unsigned char* buffer, size_t len, void* file);

// Compresses the page of pSendPageParam into outbuf (C, M: one image; Z: band records each
// followed by its band). On Z it sets JbigBih's height and L0 to each band's height. Returns the
// bytes in outbuf; may throw std::bad_alloc, which Prnt_SendPage turns into a failure.
long OutputJbigkitCompression(PGDI_SEND_PAGE_PARAM pSendPageParam, JBIG_BIH* JbigBih,
                              std::vector<unsigned char>& outbuf, int platform);
