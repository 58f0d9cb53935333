// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Helpers shared by the test suites: running a filter as a real process, writing CUPS rasters
// with libcups' own writer, answering the backend side channel, scratch folders.
#pragma once

#include <cups/raster.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace varnel_test {

// Path of a file in the build tree or the source tree.
std::string BuildPath(const std::string& relative);
std::string SourcePath(const std::string& relative);

// A scratch folder, removed with its contents when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// A loopback port that nobody listens on right now (the kernel picks it); 0 when none.
int FreeLoopbackPort();

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& data);
// Names of the regular files in a folder (not recursive), sorted.
std::vector<std::string> ListFiles(const std::string& folder);

struct RunOptions {
  std::string argv0;                      // default: the program path
  std::vector<std::string> env;           // "NAME=value" added to (or replacing in) the environment
  std::vector<std::string> unset_env;     // names removed from the environment
  std::string stdin_data;                 // written to the program's standard input
  // When set, descriptor 4 of the program is a CUPS side channel whose backend answers
  // CUPS_SC_CMD_GET_DEVICE_ID with this text (an empty text answers OK with no data).
  std::optional<std::string> device_id;
  // With device_id set: the backend takes requests but never answers (a printer that hangs).
  bool side_channel_silent = false;
  // When the program's standard error first contains this text, send it signal_number.
  std::string signal_when_stderr_has;
  int signal_number = 15;
  int signal_delay_ms = 0;                // pause between seeing the text and sending the signal
  // When set, only this many bytes of stdin_data are written until the signal has been sent, so
  // the program is waiting for input at a known point when the signal arrives.
  std::optional<size_t> stdin_hold_at;
  // With stdin_hold_at: the rest is never written, also after the signal, and the pipe stays open
  // until the program ends (a sender that stalls).
  bool stdin_stall = false;
  // With stdin_hold_at: the signal is due once the program has read all the held bytes (the pipe
  // is empty), signal_delay_ms after that.
  bool signal_when_input_drained = false;
  // When >= 0, the signal is sent this long after the start.
  int signal_after_ms = -1;
  // When >= 0 and the program still runs this long after the signal, it is killed (SIGKILL).
  int kill_after_signal_ms = -1;
  // The program's standard output. By default a pipe read into ProcessResult::out. With
  // stdout_fd >= 0 the program writes to that descriptor instead and out stays empty. With
  // stdout_close_after the pipe holds one kernel page only and its read end is closed once that
  // many bytes were read (a printer link that drops).
  int stdout_fd = -1;
  std::optional<size_t> stdout_close_after;
  bool sigpipe_ignored = false;           // the program starts with SIGPIPE ignored (default: default action)
  int timeout_ms = 60000;                 // the program is killed after this
};

struct ProcessResult {
  int exit_status = -1;  // exit code, or -1 when it ended by a signal
  int term_signal = 0;   // the signal that ended it, 0 when it exited
  bool timed_out = false;
  bool signal_sent = false;
  bool killed_after_signal = false;  // it still ran kill_after_signal_ms after the signal
  size_t err_at_signal = 0;          // bytes of err read when the signal was sent
  long long elapsed_ms = 0;          // from the start to the end of the program
  long long exit_after_signal_ms = -1;
  long long last_output_ms = -1;     // when the last byte of standard output was read
  std::string out;
  std::string err;
};

// The "ERROR: " lines of a program's standard error, in order.
std::vector<std::string> ErrorLines(const std::string& err);

ProcessResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const RunOptions& options = RunOptions());

// One raster page: its header and cupsHeight rows of cupsBytesPerLine bytes.
struct RasterPage {
  cups_page_header2_t header;
  std::vector<uint8_t> pixels;
};

// An 8-bit greyscale page header (255 = white) of the given page size in points; the raster is
// the whole page at dpi x dpi unless width/height in pixels are given.
cups_page_header2_t GreyHeader(unsigned page_w_pt, unsigned page_h_pt, unsigned dpi = 600,
                               unsigned width_px = 0, unsigned height_px = 0);
// A page filled with one grey value.
RasterPage FlatPage(const cups_page_header2_t& header, uint8_t value = 255);
// Writes the pages with cupsRasterOpen(mode) into a file.
void WriteRaster(const std::string& path, const std::vector<RasterPage>& pages,
                 cups_mode_t mode = CUPS_RASTER_WRITE);

}  // namespace varnel_test
