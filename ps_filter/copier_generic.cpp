// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// The generic copier: edits the PPD's JCL in the first chunk at fixed anchors, passes the rest.
#include <cstdio>
#include <cstring>
#include <string>

#include "cancel_cut.h"
#include "common.h"
#include "copier.h"
#include "options.h"
#include "pin_print.h"
#include "pjl_text.h"
#include "printer_output.h"

namespace {

constexpr size_t kChunkSize = 8192;
const std::string kPageComment = "%%Page:";

// Writes chunk[from, to) and moves the cut point to to.
void WritePiece(const std::string& chunk, size_t* cut, size_t to) {
  if (to > *cut) WriteToPrinter(chunk.substr(*cut, to - *cut));
  *cut = to;
}

void ReportOnFailure(bool written, const char* piece) {
  if (written) return;
  perror("err is ");
  if (piece != nullptr) fputs(piece, stderr);
}

// Each anchor is edited only when it lies after the previous edit and carries what it needs
// (its "=" on the line, its line feed); otherwise that part of the chunk passes unedited.
size_t AnchorAfter(const std::string& text, const char* anchor, size_t cut) {
  size_t at = text.find(anchor);
  if (at == std::string::npos || at < cut) return std::string::npos;
  return at;
}

void EditUserName(char* argv[], const std::string& text, const std::string& chunk, size_t* cut) {
  const char anchor[] = "@PJL SET USERNAME";
  size_t at = AnchorAfter(text, anchor, *cut);
  if (at == std::string::npos) return;
  size_t line_end = text.find('\n', at);
  size_t equals = text.find('=', at);
  if (line_end == std::string::npos || equals == std::string::npos || equals > line_end) return;
  WritePiece(chunk, cut, at + strlen(anchor));
  *cut = line_end + 1;
  ReportOnFailure(WriteToPrinter("=\"" + QuotedPjlValue(argv[2]) + "\"\n"), "Print Username PJL send failed!\n");
  std::string pin;
  if (!ispinPrint(argv[5], pin)) {
    std::string owner;
    GetJobownerPJL(owner);
    ReportOnFailure(WriteToPrinter(owner), "Pin Print PJL send failed!\n");
  }
  SendPinPrintPJL(argv, 0);
}

void EditDelayPrint(char* argv[], const std::string& text, const std::string& chunk, size_t* cut) {
  size_t at = AnchorAfter(text, "@PJL SET TIMEPRINT", *cut);
  size_t line_end = at == std::string::npos ? at : text.find('\n', at);
  if (line_end == std::string::npos) return;
  WritePiece(chunk, cut, line_end + 1);
  SendDelayPrintPJL(argv);
}

// The printer makes the copies: QTY says 1 and COPIES carries the job's count alone.
void EditCopies(char* argv[], const std::string& text, const std::string& chunk, size_t* cut) {
  const char anchor[] = "@PJL SET QTY=";
  size_t at = AnchorAfter(text, anchor, *cut);
  size_t line_end = at == std::string::npos ? at : text.find('\n', at);
  if (line_end == std::string::npos) return;
  WritePiece(chunk, cut, at + strlen(anchor));
  *cut = line_end;
  std::string copies_text = "1\n@PJL SET COPIES=" + std::to_string(ParseCopyCount(argv[4]));
  ReportOnFailure(WriteToPrinter(copies_text), "Pin Print PJL send failed!\n");
}

void EditDuplex(char* argv[], const std::string& text, const std::string& chunk, size_t* cut) {
  size_t at = AnchorAfter(text, "@PJL SET BITSPERPIXEL", *cut);
  size_t line_end = at == std::string::npos ? at : text.find('\n', at);
  if (line_end == std::string::npos) return;
  WritePiece(chunk, cut, line_end + 1);
  std::string value;
  switch (isDuplexPrint(argv[5], value)) {
    case 0:
      ReportOnFailure(WriteToPrinter("@PJL SET DUPLEX=DISABLE\n"), nullptr);
      break;
    case 1:
      ReportOnFailure(WriteToPrinter("@PJL SET DUPLEX=ENABLE\n@PJL SET BINDING=LONGEDGE\n"), nullptr);
      break;
    case 2:
      ReportOnFailure(WriteToPrinter("@PJL SET DUPLEX=ENABLE\n@PJL SET BINDING=SHORTEDGE\n"), nullptr);
      break;
    default:
      break;
  }
}

// Writes the first chunk with its JCL completed, except its last `hold` bytes when they lie after
// every edit: those are returned for the next write.
std::string WriteFirstChunk(char* argv[], const std::string& chunk, size_t hold = 0) {
  // The anchors are searched as text, so only up to a NUL byte; the bytes stay as they are.
  std::string text = chunk.substr(0, strnlen(chunk.data(), chunk.size()));
  size_t cut = 0;
  EditUserName(argv, text, chunk, &cut);
  EditDelayPrint(argv, text, chunk, &cut);
  EditCopies(argv, text, chunk, &cut);
  EditDuplex(argv, text, chunk, &cut);
  size_t end = chunk.size() >= cut + hold ? chunk.size() - hold : chunk.size();
  if (!WriteToPrinter(chunk.substr(cut, end - cut)) && cut == 0) fputs("write file error! \n", stderr);
  return chunk.substr(end);
}

}  // namespace

bool CopyForGenericPrinter(char* argv[], const char* path) {
  FILE* file = fopen(path, "rb");
  if (file == nullptr) {
    int error = errno;
    fprintf(stderr, "Uable open temp file error %s! \n", strerror(error));
    ReportPrintFileError("open", path, error);
    return false;
  }
  // The last bytes of each chunk are held back and written with the next one, so that a page
  // comment split by the chunk border is seen whole by the cancellation cut.
  const size_t hold = kPageComment.size() - 1;
  std::string chunk(kChunkSize, '\0'), previous, carry;
  bool first = true, cut = false;
  size_t got;
  while (!PrinterOutputFailed() && (got = fread(&chunk[0], 1, kChunkSize, file)) > 0) {
    std::string buffer = carry + chunk.substr(0, got);
    // A job cancelled in its first chunk still gets its header completed before the cut.
    auto write_first = [argv](const std::string& part) { WriteFirstChunk(argv, part); };
    cut = CutAtPageStart(buffer, previous, first ? CutPrefixWriter(write_first) : CutPrefixWriter());
    if (cut) break;
    if (first) {
      carry = WriteFirstChunk(argv, buffer, hold);
      first = false;
    } else {
      size_t end = buffer.size() > hold ? buffer.size() - hold : 0;
      WriteToPrinter(buffer.substr(0, end));
      carry = buffer.substr(end);
    }
    previous = buffer.substr(0, buffer.size() - carry.size());
  }
  bool read_failed = ferror(file) != 0;
  int read_error = errno;
  fclose(file);
  if (!cut) WriteToPrinter(carry);
  if (read_failed) {
    ReportPrintFileError("read", path, read_error);
    return false;
  }
  return true;
}
