// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// bench_run: runs one program the way compare.sh times it and prints what the kernel accounted
// for it. The program gets the given standard input and output, its standard error goes through
// a pipe (as under cupsd, which reads a filter's messages the same way), and no other open file
// of the caller: a filter must not find the caller's descriptor 3 or 4 and take it for the
// back channel or the side channel. Lines of standard error that start with a --stamp prefix are
// timed as they arrive.
//
// Output, one line:
//   status=N wall=S user=S sys=S maxrss_kb=N stamps=I:S,I:S,...
// status is the exit status (128+signal when a signal ended it), wall the time from just before
// the program was started to its end, user and sys its CPU time and maxrss_kb its peak resident
// set (the rusage that wait4 returns: what GNU time's %U %S %M print, here in microseconds
// rather than hundredths), stamps the lines that matched: the index of the prefix and the time
// since the start. Standard error of the program is kept (the last 64 KiB) and printed to our
// standard error when it fails, or written to --stderr FILE.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern char** environ;

namespace {

void Usage(FILE* out) {
  fputs(
      "Usage: bench_run [--env NAME=VALUE]... [--stdin FILE] [--stdout FILE] [--stderr FILE]\n"
      "                 [--stamp PREFIX]... -- PROGRAM [ARG]...\n"
      "Runs PROGRAM once and prints: status= wall= user= sys= maxrss_kb= stamps=\n",
      out);
}

double Now() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

double Seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; }

struct Options {
  std::vector<std::string> env;
  std::vector<std::string> stamps;
  std::string in = "/dev/null", out = "/dev/null", err;
  char** command = nullptr;
};

// 0 when the arguments are good, 2 otherwise (after the usage text).
int Parse(int argc, char** argv, Options* o) {
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--") {
      if (i + 1 >= argc) break;
      o->command = argv + i + 1;
      return 0;
    }
    if (a == "-h" || a == "--help") {
      Usage(stdout);
      exit(0);
    }
    if (i + 1 >= argc) break;
    const char* v = argv[++i];
    if (a == "--env" && strchr(v, '=') != nullptr && v[0] != '=')
      o->env.push_back(v);
    else if (a == "--stamp" && *v != '\0')
      o->stamps.push_back(v);
    else if (a == "--stdin")
      o->in = v;
    else if (a == "--stdout")
      o->out = v;
    else if (a == "--stderr")
      o->err = v;
    else
      break;
  }
  Usage(stderr);
  return 2;
}

// The caller's environment with the --env settings put in (replacing a variable of that name).
std::vector<std::string> Environment(const Options& o) {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    std::string entry = *e;
    bool replaced = false;
    for (const std::string& set : o.env)
      if (entry.compare(0, set.find('=') + 1, set, 0, set.find('=') + 1) == 0) replaced = true;
    if (!replaced) env.push_back(entry);
  }
  env.insert(env.end(), o.env.begin(), o.env.end());
  return env;
}

bool WriteAll(int fd, const char* data, size_t n) {
  while (n > 0) {
    ssize_t w = write(fd, data, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    data += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (Parse(argc, argv, &o) != 0) return 2;

  int in = open(o.in.c_str(), O_RDONLY | O_CLOEXEC);
  int out = open(o.out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (in < 0 || out < 0) {
    fprintf(stderr, "bench_run: cannot open %s: %s\n", in < 0 ? o.in.c_str() : o.out.c_str(), strerror(errno));
    return 2;
  }
  int pipefd[2];
  if (pipe2(pipefd, O_CLOEXEC) != 0) {
    perror("bench_run: pipe");
    return 2;
  }

  std::vector<std::string> envStrings = Environment(o);
  std::vector<char*> envp;
  for (std::string& s : envStrings) envp.push_back(&s[0]);
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in, 0);
  posix_spawn_file_actions_adddup2(&actions, out, 1);
  posix_spawn_file_actions_adddup2(&actions, pipefd[1], 2);
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  // A CUPS filter always has its back channel (3) and side channel (4); cupsd gives it pipes,
  // here they lead nowhere, so a side-channel request fails at once instead of finding another
  // descriptor of the program there.
  posix_spawn_file_actions_addopen(&actions, 3, "/dev/null", O_RDWR, 0);
  posix_spawn_file_actions_addopen(&actions, 4, "/dev/null", O_RDWR, 0);

  const double start = Now();
  pid_t pid = 0;
  int spawned = posix_spawnp(&pid, o.command[0], &actions, nullptr, o.command, envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(pipefd[1]);
  close(in);
  close(out);
  if (spawned != 0) {
    fprintf(stderr, "bench_run: cannot start %s: %s\n", o.command[0], strerror(spawned));
    return 2;
  }

  // Standard error, line by line as it comes; only the last 64 KiB are kept.
  std::string kept, line, stamps;
  const size_t keep = 64 * 1024;
  char buffer[16384];
  for (;;) {
    ssize_t n = read(pipefd[0], buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    const double when = Now() - start;
    for (ssize_t i = 0; i < n; ++i) {
      char c = buffer[i];
      if (c != '\n') {
        if (line.size() < 4096) line.push_back(c);
        continue;
      }
      for (size_t p = 0; p < o.stamps.size(); ++p) {
        if (line.compare(0, o.stamps[p].size(), o.stamps[p]) != 0) continue;
        char item[64];
        snprintf(item, sizeof item, "%s%zu:%.6f", stamps.empty() ? "" : ",", p, when);
        stamps += item;
        break;
      }
      line.clear();
    }
    kept.append(buffer, static_cast<size_t>(n));
    if (kept.size() > 2 * keep) kept.erase(0, kept.size() - keep);
  }
  close(pipefd[0]);

  int status = 0;
  rusage usage{};
  while (wait4(pid, &status, 0, &usage) < 0) {
    if (errno != EINTR) {
      perror("bench_run: wait4");
      return 2;
    }
  }
  const double wall = Now() - start;
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  if (kept.size() > keep) kept.erase(0, kept.size() - keep);

  if (!o.err.empty()) {
    int fd = open(o.err.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0 || !WriteAll(fd, kept.data(), kept.size()) || close(fd) != 0) {
      fprintf(stderr, "bench_run: cannot write %s\n", o.err.c_str());
      return 2;
    }
  } else if (code != 0) {
    WriteAll(2, kept.data(), kept.size());
  }
  if (printf("status=%d wall=%.6f user=%.6f sys=%.6f maxrss_kb=%ld stamps=%s\n", code, wall, Seconds(usage.ru_utime),
             Seconds(usage.ru_stime), usage.ru_maxrss, stamps.c_str()) < 0 ||
      fflush(stdout) != 0) {
    return 2;
  }
  return 0;
}
