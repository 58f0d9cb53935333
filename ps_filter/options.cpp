// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Option and PPD lookup helpers.
#include "options.h"

#include <cups/ppd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <memory>
#include <vector>

#include "pjl_text.h"
#include "url.h"

namespace {

constexpr size_t kMaxNameChars = 1023;
// What separates the words of the option text.
constexpr char kBlanks[] = " \t\n\r\f\v";

struct PpdCloser {
  void operator()(ppd_file_t* ppd) const { ppdClose(ppd); }
};
using PpdFile = std::unique_ptr<ppd_file_t, PpdCloser>;

PpdFile OpenJobPpd() {
  const char* path = getenv("PPD");
  return PpdFile(path != nullptr ? ppdOpenFile(path) : nullptr);
}

std::string LowerCase(const char* text) {
  std::vector<char> lowered(strlen(text) + 1, '\0');
  strToLower(text, lowered.data());
  return lowered.data();
}

}  // namespace

bool OptionTextHas(const char* options_text, const char* key) {
  return options_text != nullptr && ContainsNoCase(options_text, key);
}

OptionSwitch BooleanInText(const char* options_text, const char* key) {
  if (options_text == nullptr || key == nullptr || *key == '\0') return OptionSwitch::kAbsent;
  const std::string text = options_text;
  if (ContainsNoCase(text, std::string("no") + key)) return OptionSwitch::kOff;
  const size_t key_length = strlen(key);
  bool present = false;
  for (size_t at = FindNoCase(text, key); at != std::string::npos; at = FindNoCase(text, key, at + 1)) {
    present = true;
    size_t equals = at + key_length;
    if (equals >= text.size() || text[equals] != '=') continue;
    std::string value = text.substr(equals + 1, text.find_first_of(kBlanks, equals + 1) - equals - 1);
    if (value.size() >= 2 && (value[0] == '\'' || value[0] == '"') && value.back() == value[0])
      value = value.substr(1, value.size() - 2);
    for (const char* off : {"False", "No", "Off", "0"})
      if (strcasecmp(value.c_str(), off) == 0) return OptionSwitch::kOff;
  }
  return present ? OptionSwitch::kOn : OptionSwitch::kAbsent;
}

bool JobPasswordInText(const char* options_text, std::string& value_out) {
  if (options_text == nullptr) return false;
  const std::string text = options_text, key = "job-password=";
  for (size_t at = FindNoCase(text, key); at != std::string::npos; at = FindNoCase(text, key, at + 1)) {
    if (at > 0 && strchr(kBlanks, text[at - 1]) == nullptr) continue;  // part of another name
    size_t start = at + key.size();
    value_out = text.substr(start, text.find_first_of(kBlanks, start) - start);
    return !value_out.empty();
  }
  return false;
}

bool IsSecretOption(const std::string& name) {
  return ContainsNoCase(name, "PinNum") || ContainsNoCase(name, "password");
}

std::string MaskSecretOptions(const char* options_text) {
  if (options_text == nullptr) return "";
  const std::string text = options_text;
  std::string masked;
  size_t i = 0;
  while (i < text.size()) {
    if (strchr(kBlanks, text[i]) != nullptr) {
      masked.push_back(text[i++]);
      continue;
    }
    size_t name_start = i;
    while (i < text.size() && text[i] != '=' && strchr(kBlanks, text[i]) == nullptr) ++i;
    const std::string name = text.substr(name_start, i - name_start);
    masked += name;
    if (i >= text.size() || text[i] != '=') continue;
    masked.push_back(text[i++]);
    // The value runs to the next blank outside quotes, as the CUPS option parser reads it.
    size_t value_start = i;
    char quote = 0;
    for (; i < text.size(); ++i) {
      char c = text[i];
      if (c == '\\' && i + 1 < text.size()) {
        ++i;
      } else if (quote != 0) {
        if (c == quote) quote = 0;
      } else if (c == '\'' || c == '"') {
        quote = c;
      } else if (strchr(kBlanks, c) != nullptr) {
        break;
      }
    }
    if (IsSecretOption(name) && i > value_start)
      masked += "****";
    else
      masked += text.substr(value_start, i - value_start);
  }
  return masked;
}

void ParseOptionSetting(const char* options_text, ParsedOptions* parsed) {
  if (options_text == nullptr || parsed == nullptr) {
    fputs("ParseOptionSetting is failed,parameter is invalid.\n", stderr);
    return;
  }
  PpdFile ppd = OpenJobPpd();
  if (!ppd) return;
  parsed->num_options = cupsParseOptions(options_text, 0, &parsed->options);
  fprintf(stderr, "ParseOptionSetting option num is %d.\n", parsed->num_options);
  ppdMarkDefaults(ppd.get());
  cupsMarkOptions(ppd.get(), parsed->num_options, parsed->options);
}

void GetSelectOption(const char* keyword, std::string& out) {
  if (keyword == nullptr) {
    fputs("-->invalid parameter!\n", stderr);
    return;
  }
  PpdFile ppd = OpenJobPpd();
  if (!ppd) return;
  ppd_option_t* option = ppdFindOption(ppd.get(), keyword);
  if (option == nullptr) return;
  fprintf(stderr, "-->opt_str:%s, opt->defchoices :%s.\n", keyword, IsSecretOption(keyword) ? "****" : option->defchoice);
  out = option->defchoice;
}

bool isDestinationOfQueue(const char* printer_uri_supported, const char* printer_name) {
  if (printer_uri_supported == nullptr || printer_name == nullptr) return false;
  std::string uri = LowerCase(printer_uri_supported);
  urldecode(&uri[0]);
  uri.resize(strlen(uri.c_str()));
  size_t slash = uri.rfind('/');
  if (slash == std::string::npos) return false;
  return uri.compare(slash + 1, std::string::npos, LowerCase(printer_name)) == 0;
}

int getPrinter_optiopns(const char* printer_name, std::string& device_uri_out, std::string& make_model_out) {
  cups_dest_t* dests = nullptr;
  int count = cupsGetDests(&dests);
  if (printer_name != nullptr) {
    for (int i = 0; i < count; ++i) {
      const cups_dest_t& dest = dests[i];
      if (dest.instance != nullptr) continue;
      const char* supported = cupsGetOption("printer-uri-supported", dest.num_options, dest.options);
      if (!isDestinationOfQueue(supported, printer_name)) continue;
      const char* model = cupsGetOption("printer-make-and-model", dest.num_options, dest.options);
      const char* uri = cupsGetOption("device-uri", dest.num_options, dest.options);
      make_model_out = model != nullptr ? model : "";
      device_uri_out = uri != nullptr ? uri : "";
    }
  }
  cupsFreeDests(count, dests);
  return 0;
}

void strToLower(const char* src, char* dst) {
  if (src == nullptr || dst == nullptr) return;
  for (size_t i = 0, n = strlen(src); i < n; ++i)
    dst[i] = static_cast<char>(tolower(static_cast<unsigned char>(src[i])));
}

size_t char_to_wchar(std::wstring& wide_out, const char* text) {
  if (text == nullptr || *text == '\0') return 0;
  std::string limited(text, strnlen(text, kMaxNameChars));
  std::vector<wchar_t> wide(limited.size() + 1, L'\0');
  size_t converted = mbstowcs(wide.data(), limited.c_str(), wide.size());
  if (converted == static_cast<size_t>(-1)) return 0;
  wide_out.assign(wide.data(), converted);
  return converted;
}

size_t wchar_to_char(std::string& text_out, const std::wstring& wide) {
  if (wide.empty()) return 0;
  std::vector<char> bytes((wide.size() + 1) * 4, '\0');
  size_t written = wcstombs(bytes.data(), wide.c_str(), bytes.size());
  if (written == static_cast<size_t>(-1)) return 0;
  text_out.assign(bytes.data(), written);
  return written;
}

void GetSubwstrend(std::wstring& wide_out, size_t n, const std::wstring& wide) {
  wide_out = wide.size() > n ? wide.substr(wide.size() - n) : wide;
}

void GetSubstrend(std::string& out, size_t n, const char* text) {
  if (text == nullptr) return;
  size_t length = strlen(text);
  out = length > n ? std::string(text + length - n) : std::string(text);
}

void Getsubtext(std::string& out, size_t n, const char* text) {
  if (text == nullptr) return;
  std::wstring wide, tail;
  std::string result;
  if (char_to_wchar(wide, text) > 0) {
    GetSubwstrend(tail, n, wide);
    wchar_to_char(result, tail);
  }
  if (result.size() < 2) GetSubstrend(result, 48, text);
  out = result;
}
