// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
#include "test_support.h"

#include <arpa/inet.h>
#include <cups/sidechannel.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace varnel_test {

std::string BuildPath(const std::string& relative) { return std::string(VARNEL_BUILD_DIR) + "/" + relative; }
std::string SourcePath(const std::string& relative) { return std::string(VARNEL_SOURCE_DIR) + "/" + relative; }

TempDir::TempDir() {
  const char* base = getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/varnel-test-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = buffer.data();
  chmod(path_.c_str(), 0755);
}

TempDir::~TempDir() {
  std::string command = "rm -rf '" + path_ + "'";
  if (system(command.c_str()) != 0) fprintf(stderr, "could not remove %s\n", path_.c_str());
}

// A loopback port that nobody listens on right now (the kernel picks it).
int FreeLoopbackPort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return 0;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof address;
  int port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
    port = ntohs(address.sin_port);
  close(fd);
  return port;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFile(const std::string& path, const std::string& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(data.data(), static_cast<std::streamsize>(data.size()));
}

std::vector<std::string> ListFiles(const std::string& folder) {
  std::vector<std::string> names;
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return names;
  while (dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    struct stat st;
    if (stat((folder + "/" + name).c_str(), &st) == 0 && S_ISREG(st.st_mode)) names.push_back(name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

namespace {

// Backend side of the side channel: runs in its own process with the socket on descriptor 4,
// answers every request until the filter closes its end.
[[noreturn]] void ServeSideChannel(int socket_fd, const std::string& device_id, bool silent) {
  if (socket_fd != CUPS_SC_FD) {
    dup2(socket_fd, CUPS_SC_FD);
    close(socket_fd);
  }
  while (silent) pause();  // until the test ends it
  for (;;) {
    cups_sc_command_t command;
    cups_sc_status_t status;
    char data[2048];
    int length = sizeof data;
    if (cupsSideChannelRead(&command, &status, data, &length, 30.0) != 0) _exit(0);
    if (command == CUPS_SC_CMD_GET_DEVICE_ID) {
      cupsSideChannelWrite(command, CUPS_SC_STATUS_OK, device_id.data(), static_cast<int>(device_id.size()), 1.0);
    } else {
      cupsSideChannelWrite(command, CUPS_SC_STATUS_NOT_IMPLEMENTED, nullptr, 0, 1.0);
    }
  }
}

std::vector<std::string> BuildEnvironment(const RunOptions& options) {
  std::vector<std::string> env;
  auto overridden = [&](const std::string& entry) {
    std::string name = entry.substr(0, entry.find('='));
    for (const auto& unset : options.unset_env)
      if (unset == name) return true;
    for (const auto& added : options.env)
      if (added.substr(0, added.find('=')) == name) return true;
    return false;
  };
  for (char** e = environ; *e != nullptr; ++e)
    if (!overridden(*e)) env.push_back(*e);
  for (const auto& added : options.env) env.push_back(added);
  return env;
}

std::vector<char*> CStrings(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (auto& s : strings) pointers.push_back(&s[0]);
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace

ProcessResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const RunOptions& options) {
  ProcessResult result;
  const bool own_out = options.stdout_fd < 0;
  int in_pipe[2], out_pipe[2] = {-1, -1}, err_pipe[2];
  if (pipe(in_pipe) || (own_out && pipe(out_pipe)) || pipe(err_pipe)) throw std::runtime_error("pipe failed");
  // A dropped link shows soon: the program gets at most one kernel page ahead of the reader.
  if (own_out && options.stdout_close_after) fcntl(out_pipe[0], F_SETPIPE_SZ, 4096);

  int channel[2] = {-1, -1};
  pid_t backend = -1;
  if (options.device_id) {
    if (socketpair(AF_LOCAL, SOCK_STREAM, 0, channel) != 0) throw std::runtime_error("socketpair failed");
    backend = fork();
    if (backend == 0) {
      close(channel[0]);
      // The backend must not hold the filter's pipes open, or their ends are never seen.
      for (int fd : {in_pipe[0], in_pipe[1], out_pipe[0], out_pipe[1], err_pipe[0], err_pipe[1]})
        if (fd >= 0) close(fd);
      ServeSideChannel(channel[1], *options.device_id, options.side_channel_silent);
    }
    close(channel[1]);
  }

  std::vector<std::string> argv_strings;
  argv_strings.push_back(options.argv0.empty() ? program : options.argv0);
  argv_strings.insert(argv_strings.end(), args.begin(), args.end());
  std::vector<std::string> env_strings = BuildEnvironment(options);
  std::vector<char*> argv = CStrings(argv_strings);
  std::vector<char*> envp = CStrings(env_strings);

  auto start = std::chrono::steady_clock::now();
  pid_t child = fork();
  if (child == 0) {
    dup2(in_pipe[0], 0);
    dup2(own_out ? out_pipe[1] : options.stdout_fd, 1);
    dup2(err_pipe[1], 2);
    if (channel[0] >= 0) {
      dup2(channel[0], CUPS_SC_FD);
    } else {
      close(CUPS_SC_FD);
    }
    for (int fd = 3; fd < 1024; ++fd)
      if (fd != CUPS_SC_FD || channel[0] < 0) close(fd);
    if (channel[0] >= 0 && channel[0] != CUPS_SC_FD) close(channel[0]);
    signal(SIGPIPE, options.sigpipe_ignored ? SIG_IGN : SIG_DFL);
    execve(program.c_str(), argv.data(), envp.data());
    fprintf(stderr, "execve %s: %s\n", program.c_str(), strerror(errno));
    _exit(127);
  }
  close(in_pipe[0]);
  if (own_out) close(out_pipe[1]);
  close(err_pipe[1]);
  if (channel[0] >= 0) close(channel[0]);

  signal(SIGPIPE, SIG_IGN);
  size_t written = 0;
  int in_fd = in_pipe[1];
  if (options.stdin_data.empty()) {
    close(in_fd);
    in_fd = -1;
  } else {
    fcntl(in_fd, F_SETFL, O_NONBLOCK);
  }

  auto since_start = [&](std::chrono::steady_clock::time_point t) {
    return static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(t - start).count());
  };
  // With standard output on a descriptor of the caller, the end of standard error is the program's.
  bool out_open = own_out, err_open = true;
  std::chrono::steady_clock::time_point signal_at{}, signal_sent_at{};
  bool signal_due = false;
  auto read_into = [&](int fd, bool is_out, size_t limit) {
    char buffer[65536];
    ssize_t n = read(fd, buffer, std::min(sizeof buffer, limit));
    if (n <= 0) {
      (is_out ? out_open : err_open) = false;
      return;
    }
    (is_out ? result.out : result.err).append(buffer, static_cast<size_t>(n));
    if (is_out) result.last_output_ms = since_start(std::chrono::steady_clock::now());
  };
  // How much of the program's output the test still takes.
  auto out_room = [&]() -> size_t {
    if (!options.stdout_close_after) return SIZE_MAX;
    return *options.stdout_close_after > result.out.size() ? *options.stdout_close_after - result.out.size() : 0;
  };
  auto close_out = [&]() {
    close(out_pipe[0]);
    out_pipe[0] = -1;
    out_open = false;
  };
  if (out_open && out_room() == 0) close_out();
  while (out_open || err_open) {
    const bool held_for_good = options.stdin_hold_at && (options.stdin_stall || !result.signal_sent);
    const size_t limit = held_for_good ? std::min(options.stdin_data.size(), *options.stdin_hold_at)
                                       : options.stdin_data.size();
    std::vector<pollfd> fds;
    if (out_open) fds.push_back({out_pipe[0], POLLIN, 0});
    if (err_open) fds.push_back({err_pipe[0], POLLIN, 0});
    if (in_fd >= 0 && written < limit) fds.push_back({in_fd, POLLOUT, 0});
    poll(fds.data(), fds.size(), 10);
    for (auto& p : fds) {
      if (p.fd == in_fd && (p.revents & (POLLOUT | POLLERR | POLLHUP))) {
        ssize_t n = write(in_fd, options.stdin_data.data() + written, limit - written);
        if (n > 0) written += static_cast<size_t>(n);
        if (n < 0 && errno != EAGAIN) written = options.stdin_data.size();
        if (written >= options.stdin_data.size()) {
          close(in_fd);
          in_fd = -1;
        }
      } else if (p.revents & (POLLIN | POLLHUP | POLLERR)) {
        bool is_out = p.fd == out_pipe[0];
        read_into(p.fd, is_out, is_out ? out_room() : SIZE_MAX);
        if (is_out && out_open && out_room() == 0) close_out();
      }
    }
    auto now = std::chrono::steady_clock::now();
    if (!result.signal_sent && !signal_due) {
      bool due = false;
      if (!options.signal_when_stderr_has.empty() &&
          result.err.find(options.signal_when_stderr_has) != std::string::npos)
        due = true;
      if (options.signal_after_ms >= 0 && since_start(now) >= options.signal_after_ms) due = true;
      if (options.signal_when_input_drained && options.stdin_hold_at && in_fd >= 0 &&
          written >= std::min(options.stdin_data.size(), *options.stdin_hold_at)) {
        int pending = 0;
        if (ioctl(in_fd, FIONREAD, &pending) == 0 && pending == 0) due = true;
      }
      if (due) {
        signal_due = true;
        signal_at = now + std::chrono::milliseconds(options.signal_after_ms >= 0 ? 0 : options.signal_delay_ms);
      }
    }
    if (signal_due && !result.signal_sent && now >= signal_at) {
      // What the program logged before the signal, as far as it reached the pipe.
      int pending = 0;
      while (err_open && ioctl(err_pipe[0], FIONREAD, &pending) == 0 && pending > 0)
        read_into(err_pipe[0], false, static_cast<size_t>(pending));
      result.err_at_signal = result.err.size();
      kill(child, options.signal_number);
      result.signal_sent = true;
      signal_sent_at = std::chrono::steady_clock::now();
    }
    if (result.signal_sent && options.kill_after_signal_ms >= 0 && !result.killed_after_signal &&
        now - signal_sent_at > std::chrono::milliseconds(options.kill_after_signal_ms)) {
      result.killed_after_signal = true;
      kill(child, SIGKILL);
    }
    if (now - start > std::chrono::milliseconds(options.timeout_ms) && !result.timed_out) {
      result.timed_out = true;
      kill(child, SIGKILL);
    }
  }
  if (in_fd >= 0) close(in_fd);
  if (out_pipe[0] >= 0) close(out_pipe[0]);
  close(err_pipe[0]);

  int status = 0;
  waitpid(child, &status, 0);
  auto end = std::chrono::steady_clock::now();
  result.elapsed_ms = since_start(end);
  if (result.signal_sent)
    result.exit_after_signal_ms =
        static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(end - signal_sent_at).count());
  if (WIFEXITED(status)) {
    result.exit_status = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.term_signal = WTERMSIG(status);
  }
  if (backend > 0) {
    kill(backend, SIGTERM);
    waitpid(backend, nullptr, 0);
  }
  return result;
}

cups_page_header2_t GreyHeader(unsigned page_w_pt, unsigned page_h_pt, unsigned dpi, unsigned width_px,
                               unsigned height_px) {
  cups_page_header2_t header;
  memset(&header, 0, sizeof header);
  strcpy(header.MediaClass, "PwgRaster");
  header.HWResolution[0] = header.HWResolution[1] = dpi;
  header.PageSize[0] = page_w_pt;
  header.PageSize[1] = page_h_pt;
  header.ImagingBoundingBox[2] = page_w_pt;
  header.ImagingBoundingBox[3] = page_h_pt;
  header.NumCopies = 1;
  header.cupsWidth = width_px ? width_px : page_w_pt * dpi / 72;
  header.cupsHeight = height_px ? height_px : page_h_pt * dpi / 72;
  header.cupsBitsPerColor = 8;
  header.cupsBitsPerPixel = 8;
  header.cupsBytesPerLine = header.cupsWidth;
  header.cupsColorOrder = CUPS_ORDER_CHUNKED;
  header.cupsColorSpace = CUPS_CSPACE_W;
  header.cupsNumColors = 1;
  return header;
}

RasterPage FlatPage(const cups_page_header2_t& header, uint8_t value) {
  RasterPage page{header, {}};
  page.pixels.assign(static_cast<size_t>(header.cupsBytesPerLine) * header.cupsHeight, value);
  return page;
}

void WriteRaster(const std::string& path, const std::vector<RasterPage>& pages, cups_mode_t mode) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) throw std::runtime_error("cannot create " + path);
  cups_raster_t* raster = cupsRasterOpen(fd, mode);
  for (const auto& page : pages) {
    cups_page_header2_t header = page.header;
    cupsRasterWriteHeader2(raster, &header);
    if (!page.pixels.empty())
      cupsRasterWritePixels(raster, const_cast<unsigned char*>(page.pixels.data()),
                            static_cast<unsigned>(page.pixels.size()));
  }
  cupsRasterClose(raster);
  close(fd);
}

std::vector<std::string> ErrorLines(const std::string& err) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < err.size()) {
    size_t end = err.find('\n', start);
    std::string line = err.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (line.rfind("ERROR: ", 0) == 0) lines.push_back(line);
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return lines;
}

}  // namespace varnel_test
