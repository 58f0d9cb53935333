// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Reading job options and PPD defaults the filter's way, and the string helpers that cut and
// convert names for PJL lines.
#pragma once

#include <cups/cups.h>

#include <cstdint>
#include <string>

struct ParsedOptions {
  cups_option_t* options;
  int32_t num_options;
};

// Parses options_text into parsed (only when the PPD opens); the caller frees parsed->options.
void ParseOptionSetting(const char* options_text, ParsedOptions* parsed);
// The PPD's default choice of keyword, or out unchanged when the PPD or the option is missing.
void GetSelectOption(const char* keyword, std::string& out);
// The device URI and make-and-model of the CUPS destination that serves printer_name; both stay
// empty when none does. Always returns 0.
int getPrinter_optiopns(const char* printer_name, std::string& device_uri_out, std::string& make_model_out);
// True when the last path segment of printer-uri-supported (lower-cased, then URL-decoded) equals
// the lower-cased queue name.
bool isDestinationOfQueue(const char* printer_uri_supported, const char* printer_name);

// Writes strlen(src) lower-cased characters to dst, without a terminator (dst must be zeroed).
void strToLower(const char* src, char* dst);
// Multibyte <-> wide conversion in the current locale; the number converted, 0 for an empty input
// or a conversion failure. Names longer than 1023 characters are cut first.
size_t char_to_wchar(std::wstring& wide_out, const char* text);
size_t wchar_to_char(std::string& text_out, const std::wstring& wide);
// The last n characters (wide) or bytes of the input, or all of it when it is shorter.
void GetSubwstrend(std::wstring& wide_out, size_t n, const std::wstring& wide);
void GetSubstrend(std::string& out, size_t n, const char* text);
// The last n characters of text, cut in characters so multibyte names stay whole; when the
// conversion fails, the last 48 bytes.
void Getsubtext(std::string& out, size_t n, const char* text);

// Option text lookups shared by several features: a key is present when its text occurs anywhere
// in the options (case-insensitively); "no" + key switches it off.
bool OptionTextHas(const char* options_text, const char* key);

// A boolean option as the job's option text gives it. Off when the text holds "no" + key, or the
// key followed by "=" and False, No, Off or 0 (any letter case), as print dialogs send a switch
// that the user turned off; on for any other occurrence of the key; absent when the key is not
// in the text (the caller then takes the PPD default).
enum class OptionSwitch { kAbsent, kOn, kOff };
OptionSwitch BooleanInText(const char* options_text, const char* key);

// The value of the standard IPP job-password attribute as CUPS hands it to filters
// ("job-password=VALUE" in the option text); false when the job carries none (or an empty one).
bool JobPasswordInText(const char* options_text, std::string& value_out);

// True for options whose values are secrets: the PIN digits and any password.
bool IsSecretOption(const std::string& name);
// The option text with the value of every secret option replaced by "****", for log lines.
std::string MaskSecretOptions(const char* options_text);
