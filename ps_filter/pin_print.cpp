// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Secure printing, delayed printing and job owner.
#include "pin_print.h"

#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "options.h"
#include "pjl_text.h"
#include "printer_output.h"

namespace {

std::string Format(const char* pjl_template, const std::string& value) {
  std::vector<char> line(strlen(pjl_template) + value.size() + 1);
  snprintf(line.data(), line.size(), pjl_template, value.c_str());
  return line.data();
}

std::string JobOwner() {
  char host[256] = {0};
  gethostname(host, sizeof host - 1);
  std::string owner;
  Getsubtext(owner, 63, (std::string("vn") + host).c_str());
  return QuotedPjlValue(owner);
}

std::string PinJobName(const char* user) {
  std::string name;
  Getsubtext(name, 20, QuotedPjlValue(user != nullptr ? user : "").c_str());
  return name;
}

// The value of key in the option text: from the first "=" after it up to the next blank.
bool ValueInText(const std::string& text, const char* key, std::string& value) {
  size_t at = FindNoCase(text, key);
  if (at == std::string::npos) return false;
  size_t equals = text.find('=', at);
  if (equals == std::string::npos) return true;
  size_t end = text.find(' ', equals + 1);
  value = text.substr(equals + 1, end == std::string::npos ? std::string::npos : end - equals - 1);
  return true;
}

bool PpdDefaultIsTrue(const char* key) {
  std::string choice;
  GetSelectOption(key, choice);
  return strcasecmp(choice.c_str(), "True") == 0;
}

// The three PIN lines, or empty when PIN printing is not wanted or its PIN is unusable.
std::string PinLines(char* argv[]) {
  if (argv == nullptr) {
    fputs("-->invalid parameter!\n", stderr);
    return "";
  }
  std::string pin;
  if (!ispinPrint(argv[5], pin)) {
    fputs("-->pin print isn't need!\n", stderr);
    return "";
  }
  if (!isValidPin(pin)) {
    fputs("-->pin is not four digits, no PIN lines written!\n", stderr);
    return "";
  }
  return Format(CMD_PJL_PINPRINT_JOBOWNER, JobOwner()) + Format(CMD_PJL_PINPRINT_PINJOBNAME, PinJobName(argv[2])) +
         Format(CMD_PJL_PRINT_JOBPASSWD, pin);
}

}  // namespace

bool ispinPrint(const char* options_text, std::string& pin_out) {
  if (options_text == nullptr) {
    fputs("-->invalid parameter!\n", stderr);
    return false;
  }
  // A PIN asked for through the standard job-password attribute is the job's PIN.
  std::string password;
  if (JobPasswordInText(options_text, password)) {
    pin_out += password;
    return true;
  }
  std::string text = options_text;
  OptionSwitch wanted = BooleanInText(options_text, "LockedPinPrint");
  if (wanted == OptionSwitch::kOff) return false;
  bool in_text = wanted == OptionSwitch::kOn;
  if (!in_text && !PpdDefaultIsTrue("LockedPinPrint")) return false;
  for (int k = 1; k <= 4; ++k) {
    std::string key = "PinNum" + std::to_string(k);
    size_t at = in_text ? FindNoCase(text, key) : std::string::npos;
    if (at == std::string::npos) {
      std::string digit;
      GetSelectOption(key.c_str(), digit);
      pin_out += digit;
      continue;
    }
    size_t equals = text.find('=', at);
    if (equals != std::string::npos && equals + 1 < text.size()) pin_out.push_back(text[equals + 1]);
  }
  return true;
}

bool isValidPin(const std::string& pin) {
  if (pin.size() != 4) return false;
  for (char c : pin)
    if (!isdigit(static_cast<unsigned char>(c))) return false;
  return true;
}

void SendPinPrintPJL(char* argv[], int) {
  std::string lines = PinLines(argv);
  if (!WriteToPrinter(lines)) {
    perror("err is ");
    fputs("Pin Print PJL send failed!\n", stderr);
  }
}

void GetPinPrintPJL(char* argv[], std::string& out, int) { out = PinLines(argv); }

bool isDelayPrint(const char* options_text, std::string& time_out) {
  if (options_text == nullptr) {
    fputs("-->invalid parameter!\n", stderr);
    return false;
  }
  std::string text = options_text;
  OptionSwitch wanted = BooleanInText(options_text, "TimePrint");
  if (wanted == OptionSwitch::kOff) return false;
  if (wanted == OptionSwitch::kAbsent) {
    if (!PpdDefaultIsTrue("TimePrint")) return false;
    std::string hour, minute;
    GetSelectOption("PrintTimeH", hour);
    GetSelectOption("PrintTimeM", minute);
    time_out += hour + ":" + minute;
  } else {
    std::string hour, minute;
    bool hour_in_text = ValueInText(text, "PrintTimeH", hour);
    if (!hour_in_text) GetSelectOption("PrintTimeH", hour);
    if (!hour_in_text || text.find('=', FindNoCase(text, "PrintTimeH")) != std::string::npos) time_out += hour + ":";
    if (!ValueInText(text, "PrintTimeM", minute)) GetSelectOption("PrintTimeM", minute);
    time_out += minute;
  }
  return time_out.find(':') != std::string::npos;
}

namespace {

// The hour and minute fields of "hour:minute" as GetMinutes reads them: the first and the last
// field (a single field serves as both; empty fields are skipped), each cut to 15 characters.
void TimeFields(const char* time_text, std::string& hour, std::string& minute) {
  std::vector<std::string> fields;
  std::string field;
  for (const char* c = time_text;; ++c) {
    if (*c == ':' || *c == '\0') {
      if (!field.empty()) fields.push_back(field.substr(0, 15));
      field.clear();
      if (*c == '\0') break;
    } else {
      field.push_back(*c);
    }
  }
  hour = fields.empty() ? "0" : fields.front();
  minute = fields.empty() ? "0" : fields.back();
}

bool IsNumberUpTo(const std::string& text, long limit) {
  if (text.empty() || text.size() > 2) return false;
  for (char c : text)
    if (!isdigit(static_cast<unsigned char>(c))) return false;
  return atol(text.c_str()) <= limit;
}

}  // namespace

bool GetMinutes(const char* time_text, std::string& minutes_out) {
  if (time_text == nullptr) {
    fputs("-->invalid parameter!\n", stderr);
    return false;
  }
  std::string hour, minute;
  TimeFields(time_text, hour, minute);
  long minutes = atol(hour.c_str()) * 60 + atol(minute.c_str());
  minutes_out = std::to_string(minutes);
  return true;
}

bool isValidDelayTime(const std::string& time_text) {
  std::string hour, minute;
  TimeFields(time_text.c_str(), hour, minute);
  return IsNumberUpTo(hour, 23) && IsNumberUpTo(minute, 59);
}

void SendDelayPrintPJL(char* argv[]) {
  if (argv == nullptr) {
    fputs("-->invalid parameter!\n", stderr);
    return;
  }
  std::string time_text, minutes;
  if (!isDelayPrint(argv[5], time_text)) {
    fputs("-->delay print isn't need!\n", stderr);
    return;
  }
  if (!isValidDelayTime(time_text)) {
    fputs("-->delay time is not an hour 0-23 and a minute 0-59, no PRINTDELAY written!\n", stderr);
    return;
  }
  if (!GetMinutes(time_text.c_str(), minutes)) return;
  if (!WriteToPrinter(Format(CMD_PJL_DELAYPRINT_PRINTTIME, minutes))) {
    perror("err is ");
    fputs("delay Print PJL send failed!\n", stderr);
  }
}

void GetJobownerPJL(std::string& out) { out += Format(CMD_PJL_PINPRINT_JOBOWNER, JobOwner()); }
