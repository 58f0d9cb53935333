// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
#include "private_cupsd.h"

#include <arpa/inet.h>
#include <cups/cups.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>

namespace varnel_test {
namespace {

constexpr const char* kStockServerBin = CUPS_SERVERBIN_PATH;  // the system's, from cups-config
constexpr const char* kStockDataDir = CUPS_DATADIR_PATH;

using Clock = std::chrono::steady_clock;

void Sleep(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

void MakeFolder(const std::string& path) {
  mkdir(path.c_str(), 0755);
  chmod(path.c_str(), 0755);  // a umask must not make it unreadable for the jobs' user
}

// LeakSanitizer reads its suppressions file when a job's filter ends, as the jobs' user, who may
// not see into the checkout (a clone in a private folder): the file is copied into `folder` and
// the options point at the copy. Empty when the test run sets no LSAN_OPTIONS.
std::string JobLsanOptions(const std::string& folder) {
  const char* set = getenv("LSAN_OPTIONS");
  std::string options = set ? set : "", result;
  const std::string key = "suppressions=";
  for (size_t start = 0; start < options.size();) {
    size_t end = options.find(':', start);
    if (end == std::string::npos) end = options.size();
    std::string option = options.substr(start, end - start);
    if (option.compare(0, key.size(), key) == 0) {
      const std::string copy = folder + "/lsan.supp";
      WriteFile(copy, ReadFile(option.substr(key.size())));
      chmod(copy.c_str(), 0644);
      option = key + copy;
    }
    result += (result.empty() ? "" : ":") + option;
    start = end + 1;
  }
  return result;
}

// Full path of a CUPS command: the administration tools live in sbin folders.
std::string FindProgram(const std::string& name) {
  std::string path = getenv("PATH") ? getenv("PATH") : "";
  path += ":/usr/sbin:/sbin:/usr/bin:/bin";
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find(':', start);
    if (end == std::string::npos) end = path.size();
    std::string candidate = path.substr(start, end - start) + "/" + name;
    if (end > start && access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return name;
}

std::string BaseName(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Jobs run as user lp when the scheduler runs as root; their output folders must be theirs.
void GiveToJobUser(const std::string& folder) {
  if (geteuid() != 0) return;
  if (passwd* lp = getpwnam("lp")) {
    if (chown(folder.c_str(), lp->pw_uid, lp->pw_gid) != 0) perror(("chown " + folder).c_str());
  }
}

}  // namespace

bool CopyProgram(const std::string& from, const std::string& to) {
  std::ifstream in(from, std::ios::binary);
  if (!in) return false;
  unlink(to.c_str());
  {
    std::ofstream out(to, std::ios::binary | std::ios::trunc);
    out << in.rdbuf();
    if (!out) return false;
  }
  // Group- or world-writable programs are refused by the scheduler; 0700 would stop user lp.
  return chmod(to.c_str(), 0755) == 0;
}

void LinkStockFilters(const std::string& filter_dir) {
  std::string stock = std::string(kStockServerBin) + "/filter";
  DIR* dir = opendir(stock.c_str());
  if (dir == nullptr) return;
  while (dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    symlink((stock + "/" + name).c_str(), (filter_dir + "/" + name).c_str());
  }
  closedir(dir);
}

PrivateCupsd::PrivateCupsd() {
  const std::string& r = dir_.path();
  for (const char* sub : {"/etc", "/etc/ssl", "/lib", "/lib/filter", "/lib/backend", "/spool", "/spool/tmp",
                          "/cache", "/state", "/log", "/out"})
    MakeFolder(r + sub);
  symlink((std::string(kStockServerBin) + "/daemon").c_str(), (r + "/lib/daemon").c_str());
  LinkStockFilters(r + "/lib/filter");
  GiveToJobUser(OutputDir());
}

PrivateCupsd::~PrivateCupsd() { Stop(); }

std::string PrivateCupsd::OutputDir() const { return dir_.path() + "/out"; }

std::string PrivateCupsd::NewOutputDir(const std::string& name) const {
  std::string folder = OutputDir() + "/" + name;
  MakeFolder(folder);
  GiveToJobUser(folder);
  return folder;
}

std::string PrivateCupsd::ErrorLog() const {
  return ReadFile(dir_.path() + "/log/error_log") + ReadFile(dir_.path() + "/log/cupsd.out");
}

bool PrivateCupsd::InstallFilter(const std::string& program, const std::string& name) {
  return CopyProgram(program, dir_.path() + "/lib/filter/" + (name.empty() ? BaseName(program) : name));
}

bool PrivateCupsd::InstallBackend(const std::string& program, const std::string& name) {
  return CopyProgram(program, dir_.path() + "/lib/backend/" + (name.empty() ? BaseName(program) : name));
}

void PrivateCupsd::SetEnv(const std::string& name, const std::string& value) {
  set_env_.push_back(name + " " + value);
}

void PrivateCupsd::AddModelFolder(const std::string& folder, const std::string& name) {
  const std::string data = dir_.path() + "/data";
  if (!own_data_dir_) {
    MakeFolder(data);
    MakeFolder(data + "/model");
    if (DIR* dir = opendir(kStockDataDir)) {
      while (dirent* entry = readdir(dir)) {
        std::string item = entry->d_name;
        if (item != "." && item != ".." && item != "model")
          symlink((std::string(kStockDataDir) + "/" + item).c_str(), (data + "/" + item).c_str());
      }
      closedir(dir);
    }
    own_data_dir_ = true;
  }
  symlink(folder.c_str(), (data + "/model/" + name).c_str());
}

void PrivateCupsd::WriteConfiguration() const {
  const std::string& r = dir_.path();
  std::string files = "ServerRoot " + r + "/etc\n" + "ServerBin " + r + "/lib\n" + "RequestRoot " + r +
                      "/spool\n" + "TempDir " + r + "/spool/tmp\n" + "CacheDir " + r + "/cache\n" +
                      "StateDir " + r + "/state\n" + "ServerKeychain " + r + "/etc/ssl\n" + "Printcap " + r +
                      "/etc/printcap\n" + "ErrorLog " + r + "/log/error_log\n" + "AccessLog " + r +
                      "/log/access_log\n" + "PageLog " + r + "/log/page_log\n" +
                      (own_data_dir_ ? "DataDir " + r + "/data\n" : std::string()) + "FileDevice No\n"
                      // Sanitizer settings of the test run reach the filters that the jobs start.
                      "PassEnv ASAN_OPTIONS UBSAN_OPTIONS\n";
  std::string lsan = JobLsanOptions(r);
  if (!lsan.empty()) files += "SetEnv LSAN_OPTIONS " + lsan + "\n";
  for (const auto& entry : set_env_) files += "SetEnv " + entry + "\n";
  WriteFile(r + "/etc/cups-files.conf", files);

  std::string daemon = "LogLevel debug\n"
                       "MaxLogSize 0\n"
                       "Listen 127.0.0.1:" + std::to_string(port_) + "\n" +
                       "Listen " + r + "/cupsd.sock\n" +
                       "Browsing No\n"
                       "BrowseLocalProtocols none\n"
                       "WebInterface No\n"
                       "DefaultAuthType None\n"
                       "ErrorPolicy abort-job\n"
                       "PreserveJobHistory Yes\n"
                       "<Location />\n"
                       "  Order allow,deny\n"
                       "  Allow from 127.0.0.1\n"
                       "</Location>\n"
                       "<Policy default>\n"
                       "  <Limit All>\n"
                       "    Order deny,allow\n"
                       "  </Limit>\n"
                       "</Policy>\n";
  WriteFile(r + "/etc/cupsd.conf", daemon);
}

bool PrivateCupsd::SchedulerRunning() const {
  RunOptions options;
  options.timeout_ms = 5000;
  ProcessResult status = RunProgram(FindProgram("lpstat"), {"-h", server_, "-r"}, options);
  // lpstat -r exits with 0 whether or not the scheduler answers: only its text tells.
  return status.out.find("scheduler is running") != std::string::npos &&
         status.out.find("not running") == std::string::npos;
}

bool PrivateCupsd::Start(int timeout_ms) {
  for (int attempt = 0; attempt < 3 && !running(); ++attempt) StartOnce(timeout_ms);
  return running();
}

bool PrivateCupsd::StartOnce(int timeout_ms) {
  port_ = FreeLoopbackPort();
  if (port_ == 0) return false;
  server_ = "127.0.0.1:" + std::to_string(port_);
  WriteConfiguration();
  const std::string& r = dir_.path();
  std::string conf = r + "/etc/cupsd.conf", files = r + "/etc/cups-files.conf", out = r + "/log/cupsd.out";
  std::string program = FindProgram("cupsd");

  pid_t child = fork();
  if (child < 0) return false;
  if (child == 0) {
    int log = open(out.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    int null_in = open("/dev/null", O_RDONLY);
    if (log >= 0) {
      dup2(log, 1);
      dup2(log, 2);
    }
    if (null_in >= 0) dup2(null_in, 0);
    for (int fd = 3; fd < 1024; ++fd) close(fd);
    execl(program.c_str(), "cupsd", "-f", "-c", conf.c_str(), "-s", files.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  pid_ = child;

  auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (Clock::now() < deadline) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {  // it gave up, e.g. the port was taken meanwhile
      pid_ = -1;
      return false;
    }
    if (SchedulerRunning()) return true;
    Sleep(50);
  }
  Stop();
  return false;
}

void PrivateCupsd::Stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  auto deadline = Clock::now() + std::chrono::seconds(10);
  int status = 0;
  while (waitpid(pid_, &status, WNOHANG) == 0) {
    if (Clock::now() > deadline) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
      break;
    }
    Sleep(20);
  }
  pid_ = -1;
}

ProcessResult PrivateCupsd::Client(const std::string& command, const std::vector<std::string>& args,
                                   const std::vector<std::string>& env) const {
  std::vector<std::string> full = {"-h", server_};
  full.insert(full.end(), args.begin(), args.end());
  RunOptions options;
  options.timeout_ms = 30000;
  options.unset_env = {"CUPS_SERVER"};
  options.env = env;
  return RunProgram(FindProgram(command), full, options);
}

bool PrivateCupsd::AddQueue(const std::string& name, const std::string& device_uri, const std::string& ppd) {
  return AddQueueWith(name, device_uri, "-P", ppd);
}

bool PrivateCupsd::AddDriverQueue(const std::string& name, const std::string& device_uri, const std::string& driver) {
  return AddQueueWith(name, device_uri, "-m", driver);
}

bool PrivateCupsd::AddQueueWith(const std::string& name, const std::string& device_uri, const std::string& flag,
                                const std::string& ppd) {
  ProcessResult added = Client("lpadmin", {"-p", name, "-E", "-v", device_uri, flag, ppd});
  if (added.exit_status != 0) {
    fprintf(stderr, "lpadmin failed: %s%s\n", added.out.c_str(), added.err.c_str());
    return false;
  }
  return Client("cupsenable", {name}).exit_status == 0 && Client("cupsaccept", {name}).exit_status == 0;
}

int PrivateCupsd::Submit(const std::string& queue, const std::string& file, const std::vector<std::string>& args,
                         const std::vector<std::string>& env) {
  std::vector<std::string> full = {"-d", queue};
  full.insert(full.end(), args.begin(), args.end());
  full.push_back(file);
  ProcessResult submitted = Client("lp", full, env);
  // "request id is QUEUE-42 (1 file(s))", in the language of `env`
  const std::string marker = " " + queue + "-";
  size_t at = submitted.out.find(marker);
  if (submitted.exit_status != 0 || at == std::string::npos) {
    fprintf(stderr, "lp failed: %s%s\n", submitted.out.c_str(), submitted.err.c_str());
    return -1;
  }
  return atoi(submitted.out.c_str() + at + marker.size());
}

bool PrivateCupsd::Cancel(int job_id) { return Client("cancel", {std::to_string(job_id)}).exit_status == 0; }

std::vector<std::pair<int, int>> PrivateCupsd::Jobs(const std::string& queue, bool active_only) const {
  std::vector<std::pair<int, int>> found;
  http_t* http = httpConnect2("127.0.0.1", port_, nullptr, AF_INET, HTTP_ENCRYPTION_NEVER, 1, 5000, nullptr);
  if (http == nullptr) return found;
  cups_job_t* jobs = nullptr;
  int count = cupsGetJobs2(http, &jobs, nullptr, 0, active_only ? CUPS_WHICHJOBS_ACTIVE : CUPS_WHICHJOBS_ALL);
  for (int i = 0; i < count; ++i) {
    // A job stopped by a failing filter waits for an operator: for a test it has ended.
    if (active_only && jobs[i].state == IPP_JSTATE_STOPPED) continue;
    if (queue.empty() || (jobs[i].dest && queue == jobs[i].dest)) found.emplace_back(jobs[i].id, jobs[i].state);
  }
  cupsFreeJobs(count, jobs);
  httpClose(http);
  return found;
}

bool PrivateCupsd::WaitUntilIdle(const std::string& queue, int timeout_ms) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (Clock::now() < deadline) {
    if (Jobs(queue, true).empty()) return true;
    Sleep(100);
  }
  return false;
}

bool PrivateCupsd::WaitUntilProcessing(int job_id, int timeout_ms) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (Clock::now() < deadline) {
    int state = JobState(job_id);
    if (state == IPP_JSTATE_PROCESSING) return true;
    if (state > IPP_JSTATE_PROCESSING) return false;
    Sleep(20);
  }
  return false;
}

int PrivateCupsd::JobState(int job_id) const {
  for (const auto& job : Jobs("", false))
    if (job.first == job_id) return job.second;
  return 0;
}

}  // namespace varnel_test
