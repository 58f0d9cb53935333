// Device URI helpers.
#include "url.h"

#include <cstring>
#include <string>

int hex2dec(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void urldecode(char* text) {
  if (text == nullptr) return;
  size_t length = strlen(text);
  std::string decoded;
  decoded.reserve(length);
  for (size_t i = 0; i < length; ++i) {
    if (text[i] == '%' && i + 2 < length) {
      decoded.push_back(static_cast<char>(hex2dec(text[i + 1]) * 16 + hex2dec(text[i + 2])));
      i += 2;
    } else {
      decoded.push_back(text[i]);
    }
  }
  memcpy(text, decoded.c_str(), decoded.size() + 1);
}
