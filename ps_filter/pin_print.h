// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Secure (PIN) printing, delayed printing and the job owner line of PostScript jobs.
#pragma once

#include <string>

#define CMD_PJL_PINPRINT_JOBOWNER "@PJL SET JOBOWNER=\"%s\"\n"
#define CMD_PJL_PINPRINT_PINJOBNAME "@PJL SET PINJOBNAME=\"%s\"\n"
#define CMD_PJL_PRINT_JOBPASSWD "@PJL SET JOBPASSWORD=\"%s\"\n"
#define CMD_PJL_DELAYPRINT_PRINTTIME "@PJL SET PRINTDELAY=%s\n"

// True when the job asks for PIN printing; the PIN is appended to pin_out.
bool ispinPrint(const char* options_text, std::string& pin_out);
// A PIN the printer can take: exactly four digits.
bool isValidPin(const std::string& pin);
// Writes the owner, PIN job name and password lines to standard output when PIN printing is
// wanted (and its PIN is valid).
void SendPinPrintPJL(char* argv[], int unused);
// The same three lines into out (empty when not wanted).
void GetPinPrintPJL(char* argv[], std::string& out, int unused);

// True when the job asks for delayed printing; "hour:minute" is appended to time_out.
bool isDelayPrint(const char* options_text, std::string& time_out);
// hour * 60 + minute of "hour:minute" as decimal text.
bool GetMinutes(const char* time_text, std::string& minutes_out);
// A time the printer can take: the hour (0-23) and minute (0-59) that GetMinutes reads, each
// one or two decimal digits.
bool isValidDelayTime(const std::string& time_text);
void SendDelayPrintPJL(char* argv[]);

// Appends the owner line ("vn" + host name, last 63 characters) to out.
void GetJobownerPJL(std::string& out);
