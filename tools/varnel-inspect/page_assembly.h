// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Collects the document fields and the pages while the sequence is walked, and checks what can
// only be judged across items: image checksums, band geometry, M data splits, image headers.
// A page's images are put together as its items arrive; the finished page goes to the visitor,
// and its plane is released then unless the caller keeps planes.
#pragma once

#include <vector>

#include "inspect_internal.h"

namespace varnel_inspect {

class PageAssembler {
 public:
  explicit PageAssembler(InspectContext* context) : c_(*context), r_(*context->result) {}
  void OnItem(size_t index);  // an item of the sequence, in stream order
  void Finish();              // end of stream

 private:
  // What a Z band's data decoded to; its rows are stacked into zPlane_ when they fit the page.
  struct BandImage {
    bool complete = false;
    unsigned width = 0, height = 0;
    bool stacked = false;
  };

  void OnDocumentItem(const Item& item, size_t index);
  void StartPage(const Item& item, size_t index);
  void OnPageItem(const Item& item, size_t index);
  void CollectMParams(size_t index, FieldList* fields);
  void CheckStartPageParams(size_t offset, const FieldList& params);
  void CheckImageChecksum(const Item& checksum);
  JbigDecode TakeDecode(size_t index);
  void StartZPlane();
  void StackZBand(size_t index);
  void FinishPage();
  void FinishPageC();
  void FinishPageZ();
  void FinishPageM();
  void DeliverPage();
  void ReleaseHeld();
  bool CheckBand(size_t n, size_t count, unsigned width, unsigned pageHeight);
  void CheckZCoverage();
  void CheckImageHeader(size_t offset, const uint8_t* data, size_t size, unsigned long width,
                        unsigned long height, long long l0, const char* what);
  Page& CurrentPage() { return r_.pages.back(); }

  InspectContext& c_;
  InspectResult& r_;
  bool pageOpen_ = false;
  size_t rasterEnd_ = 0;                 // C: first byte after the raster-image record
  size_t summedTo_ = 0;                  // C: bytes rasterEnd_ ... summedTo_ are in imageSum_
  unsigned imageSum_ = 0;
  long long imageBlock_ = -1;            // C: item index of the page's JBIG data
  JbigDecode cImage_;                    // C: its image
  std::vector<size_t> bands_;            // Z: item indexes of the band records
  std::vector<long long> bandData_;      // Z: item index of each band's data, -1 when none
  std::vector<BandImage> bandImages_;    // Z: what each band's data decoded to
  bool zPlaneStarted_ = false;           // Z: the page's raster-image record has set up zPlane_
  bool zStacking_ = false;               // Z: the bands so far fit the page and are in zPlane_
  Bitmap zPlane_;                        // Z: the page's bands stacked
  long long jbigParam_ = -1;             // M: item index of JBIG_PARAM_CMD
  std::vector<size_t> dataChunks_;       // M: item indexes of the JBIG data blocks
};

}  // namespace varnel_inspect
