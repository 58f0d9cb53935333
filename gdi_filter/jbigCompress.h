// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// JBIG (T.82) compression of one page or band through JBIG-KIT.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <memory>

#include "prnt.h"

// The encoder's output of the image being compressed goes to gpCompImgData, a buffer reserved
// before the encoder starts, so that the encoder's callback never allocates (nothing may be thrown
// through libjbig): gJbigCompressDataLen of its gJbigCompressCapacity bytes are used. Output that
// does not fit sets gJbigCompressOverflow and is dropped. Every thread has its own.
extern thread_local unsigned char* gpCompImgData;
extern thread_local unsigned int gJbigCompressDataLen;
extern thread_local size_t gJbigCompressCapacity;
extern thread_local bool gJbigCompressOverflow;

// Encodes the image pKPlaneData (JbigBih's width x height, rows byte-aligned) and appends the
// complete bi-level image entity to gpCompImgData. The encoder's memory is released in every
// case. 1 on success, 0 when there is no buffer or the image did not fit into it.
int JBIGCompress(JBIG_BIH JbigBih, unsigned char* pKPlaneData);
// The encoder's output callback: appends len bytes to gpCompImgData when they fit.
void jbig_data_out(unsigned char* buffer, size_t len, void* file);

// One compressed image (a page, or a band on Z): the complete JBIG bi-level image entity, or
// nothing when it could not be made.
struct JbigImage {
  struct Free {
    void operator()(unsigned char* p) const { free(p); }
  };
  std::unique_ptr<unsigned char, Free> data;
  size_t size = 0;
  bool complete = false;
};

// Compresses rows (bih's width x height) into image. The collecting buffer holds twice the raw
// image and room for the JBIG headers; when it cannot be had, or the output does not fit, the
// image is left empty (complete false) and gIncompleteImages is counted up.
void CompressImage(const JBIG_BIH& bih, const unsigned char* rows, JbigImage* image);

// Images that could not be compressed since the job began (each contributed no data).
extern std::atomic<unsigned long> gIncompleteImages;

// Receives the compressed images of a page in order: band is 0 for the page of C and M and counts
// the 256-line bands of Z; bih describes the image (the band's height on Z). May take the image's
// data. false stops the page (its output failed).
typedef bool (*JBIG_IMAGE_OUTPUT)(void* context, unsigned long band, const JBIG_BIH& bih, JbigImage* image);

// Compresses the page bitmap of pSendPageParam (C, M: one image; Z: bands of 256 lines, for which
// it sets JbigBih's height and L0 to each band's) and hands every image to output. An image that
// cannot be compressed is handed on empty. Returns the compressed bytes, or -1 when output
// stopped the page.
long OutputJbigkitCompression(PGDI_SEND_PAGE_PARAM pSendPageParam, JBIG_BIH* JbigBih, JBIG_IMAGE_OUTPUT output,
                              void* context, int platform);
