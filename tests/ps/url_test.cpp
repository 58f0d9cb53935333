// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include <string>

#include "url.h"

TEST(UrlDecode, DecodesEscapesAndNeverReadsPastTheEnd) {
  struct Case {
    std::string in, out;
  } cases[] = {
      {"%41%42", "AB"}, {"%4a", "J"}, {"a+b", "a+b"}, {"ipp://h/q%20x", "ipp://h/q x"},
      {"abc%4", "abc%4"}, {"abc%", "abc%"}, {"", ""},
  };
  for (const auto& c : cases) {
    std::string buffer = c.in;
    buffer.push_back('\0');
    urldecode(&buffer[0]);
    EXPECT_STREQ(buffer.c_str(), c.out.c_str()) << c.in;
  }
}

TEST(UrlDecode, HexDigitValues) {
  EXPECT_EQ(hex2dec('0'), 0);
  EXPECT_EQ(hex2dec('9'), 9);
  EXPECT_EQ(hex2dec('a'), 10);
  EXPECT_EQ(hex2dec('F'), 15);
  EXPECT_EQ(hex2dec('g'), -1);
  EXPECT_EQ(hex2dec('%'), -1);
}
