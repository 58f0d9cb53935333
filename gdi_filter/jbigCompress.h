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

// An image compressed while its rows are still being made (a C or M page whose lines are
// halftoned as they arrive). For one resolution layer libjbig encodes a stripe, hands its data to
// the output callback and only then reads the rows of the next stripe; the callback therefore
// waits, after the header and after each stripe's end, until the rows of the next stripe are in.
struct JbigRowPacing {
  // Returns once the first `rows` rows of the image are there.
  void (*waitForRows)(void* context, unsigned long rows);
  // Told at the end of each stripe: the first `rows` rows are encoded (null: not told).
  void (*rowsDone)(void* context, unsigned long rows) = nullptr;
  void* context;
  // The callback's reading of the encoder's output (kept by CompressImage).
  unsigned long l0 = 0, height = 0, stripesDone = 0;
  size_t headerLeft = 0;  // bytes of the 20-byte image header still to come
  int marker = 0;         // 0: data; 1: after 0xFF; 2: skipping a marker segment's parameters
  size_t skip = 0;
};
// CompressImage for an image whose rows are made while it is compressed (see above).
void CompressImagePaced(const JBIG_BIH& bih, const unsigned char* rows, JbigRowPacing* pacing, JbigImage* image);
// Whether the installed libjbig behaves as paced compression needs with the encoder parameters
// of bih (order, options, Mx; found once for each, with a small image whose rows are made only
// when asked for). When it does not, callers compress an image only after its rows are all there.
bool PacedCompressionWorks(const JBIG_BIH& bih);

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

// ---- Pages compressed ahead ----
// A page's images can be compressed before the page is sent (on other threads): one image on C
// and M, one per 256-line band on Z (the bands of the platform table), none for a platform
// outside the table; each made by CompressImage from PageImageRows with
// PageImageParameters, then sent in order by SendCompressedPage. The bytes are those of
// Prnt_SendPage.
JBIG_BIH PageJbigParameters(const GDI_SEND_PAGE_PARAM* send, int platform);
unsigned long PageImageCount(const JBIG_BIH& page, int platform);
JBIG_BIH PageImageParameters(const JBIG_BIH& page, unsigned long image, int platform);
const unsigned char* PageImageRows(const GDI_SEND_PAGE_PARAM* send, const JBIG_BIH& page, unsigned long image,
                                   int platform);
// Prnt_SendPage with the page's images (PageImageCount of them) compressed ahead; they are taken
// (moved from). incomplete, when given, says whether an image could not be compressed.
int SendCompressedPage(PGDI_SEND_PAGE_PARAM pSendPageParam, JbigImage* images, int platform, bool* incomplete);
