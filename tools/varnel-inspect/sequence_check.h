// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Order of the document and page sequences, checked item by item while the stream is split, and
// the page assembly fed from it.
#pragma once

#include "inspect_internal.h"
#include "page_assembly.h"

namespace varnel_inspect {

class SequenceCheck {
 public:
  explicit SequenceCheck(InspectContext* context) : c_(*context), assembler_(context) {}
  // Checks the items added since the last call.
  void Advance();
  // End of stream: the last items, the end of the document, the last page.
  void Finish();

 private:
  InspectContext& c_;
  PageAssembler assembler_;
  int state_ = -1;   // node of the platform's graph of the last sequence item, -1 before the first
  size_t next_ = 0;  // first item not yet checked
};

}  // namespace varnel_inspect
