// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Decoding of JBIG bi-level images with libjbig's decoder.
extern "C" {
#include <jbig.h>
}

#include <cstring>
#include <new>

#include "byte_order.h"
#include "inspect_internal.h"

namespace varnel_inspect {

namespace {
struct DecoderState {
  jbg_dec_state state;
  DecoderState() { jbg_dec_init(&state); }
  ~DecoderState() { jbg_dec_free(&state); }
  DecoderState(const DecoderState&) = delete;
  DecoderState& operator=(const DecoderState&) = delete;
};
}  // namespace

bool ParseJbigHeader(const uint8_t* data, size_t size, JbigHeader* header) {
  if (size < kJbigHeaderBytes) return false;
  header->dl = data[0];
  header->d = data[1];
  header->planes = data[2];
  header->width = Be32(data + 4);
  header->height = Be32(data + 8);
  header->l0 = Be32(data + 12);
  header->mx = data[16];
  header->my = data[17];
  header->order = data[18];
  header->options = data[19];
  return true;
}

JbigDecode DecodeJbig(const uint8_t* data, size_t size, unsigned long long maxImageBytes) {
  JbigDecode out;
  JbigHeader header;
  if (!ParseJbigHeader(data, size, &header)) {
    out.error = "shorter than a JBIG header";
    return out;
  }
  if (header.planes != 1) {
    out.error = "JBIG header has " + std::to_string(header.planes) + " planes, not 1";
    return out;
  }
  // libjbig allocates the whole bitmap and a layer of half its width and height as soon as it
  // has read the header, and aborts the program when memory cannot be had.
  const std::string announced =
      "JBIG header size " + std::to_string(header.width) + " x " + std::to_string(header.height);
  if (header.width == 0 || header.width > 0xFFFFFFul) {
    out.error = announced + " is not plausible";
    return out;
  }
  const unsigned long long bytes = BitmapBytes(header.width, header.height);
  if (bytes > maxImageBytes) {
    out.error = announced + " is not plausible: its bitmap takes " + std::to_string(bytes) +
                " bytes, the limit leaves " + std::to_string(maxImageBytes);
    return out;
  }
  DecoderState decoder;
  jbg_dec_maxsize(&decoder.state, header.width, header.height);
  size_t used = 0;
  // libjbig only reads the buffer; its interface is not const-qualified.
  int status = jbg_dec_in(&decoder.state, const_cast<unsigned char*>(data), size, &used);
  out.consumed = used;
  if (status == JBG_EAGAIN) {
    out.error = "the data end before the image is complete";
    return out;
  }
  if (status != JBG_EOK) {
    out.error = std::string("decoder error: ") + jbg_strerror(status);
    return out;
  }
  out.image.width = static_cast<unsigned>(jbg_dec_getwidth(&decoder.state));
  out.image.height = static_cast<unsigned>(jbg_dec_getheight(&decoder.state));
  const unsigned char* plane = jbg_dec_getimage(&decoder.state, 0);
  const size_t rows = out.image.Stride() * out.image.height;
  try {
    out.image.rows.assign(plane, plane + rows);
  } catch (const std::bad_alloc&) {
    out.image = Bitmap();
    out.error = "no memory for the " + std::to_string(rows) + " bytes of its bitmap";
    return out;
  }
  out.complete = true;
  return out;
}

}  // namespace varnel_inspect
