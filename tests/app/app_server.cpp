// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
#include "app_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstring>
#include <set>
#include <thread>

extern char** environ;

namespace varnel_test {
namespace {

using Clock = std::chrono::steady_clock;

const char kAppName[] = "varnel-printer-app";

std::string AppProgram() { return BuildPath("printer_app/varnel-printer-app"); }

void Sleep(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

bool Answers(int port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return ok;
}

// The name of the file that PAPPL's file: device makes for a job name.
std::string OutputName(const std::string& job_name) {
  std::string name = job_name;
  for (char& c : name) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u < ' ' || u == 0x7f || (u & 0x80) || c == '/') c = '_';
  }
  return name + ".prn";
}

void AddAttribute(ipp_t* request, const std::string& name, const std::string& value) {
  static const std::set<std::string> kEnums = {"print-quality", "orientation-requested", "finishings"};
  bool digits = !value.empty() && (isdigit(static_cast<unsigned char>(value[0])) || value[0] == '-') &&
                value.find_first_not_of("-0123456789") == std::string::npos;
  if (kEnums.count(name))
    ippAddInteger(request, IPP_TAG_JOB, IPP_TAG_ENUM, name.c_str(), atoi(value.c_str()));
  else if (name == "printer-resolution")
    ippAddResolution(request, IPP_TAG_JOB, name.c_str(), IPP_RES_PER_INCH, atoi(value.c_str()), atoi(value.c_str()));
  else if (digits)
    ippAddInteger(request, IPP_TAG_JOB, IPP_TAG_INTEGER, name.c_str(), atoi(value.c_str()));
  else if (value == "true" || value == "false")
    ippAddBoolean(request, IPP_TAG_JOB, name.c_str(), value == "true");
  else
    ippAddString(request, IPP_TAG_JOB, IPP_TAG_KEYWORD, name.c_str(), nullptr, value.c_str());
}

}  // namespace

AppServer::AppServer() : AppServer(AppProgram()) {}

AppServer::AppServer(const std::string& program) : program_(program) {
  for (const char* folder : {"/spool", "/tmp", "/config"}) mkdir((dir_.path() + folder).c_str(), 0700);
}

AppServer::~AppServer() { Stop(); }

std::vector<std::string> AppServer::Environment() const {
  const std::string& r = dir_.path();
  // As root the application keeps its state and domain socket in SNAP_COMMON, otherwise under
  // XDG_CONFIG_HOME and TMPDIR: all of them point into the scratch folder.
  // Leaks inside PAPPL are told apart by their callers: the sanitizer must unwind the whole stack.
  const char* asan = getenv("ASAN_OPTIONS");
  std::string asan_options = std::string(asan != nullptr && *asan != '\0' ? std::string(asan) + ":" : "") +
                             "fast_unwind_on_malloc=0";
  return {"SNAP_COMMON=" + r, "TMPDIR=" + r + "/tmp", "XDG_CONFIG_HOME=" + r + "/config", "HOME=" + r,
          "LANG=C", "LC_ALL=C", "ASAN_OPTIONS=" + asan_options};
}

bool AppServer::Start(int timeout_ms) {
  const std::string& r = dir_.path();
  std::vector<std::string> env_strings;
  std::set<std::string> replaced;
  for (const std::string& entry : Environment()) {
    env_strings.push_back(entry);
    replaced.insert(entry.substr(0, entry.find('=')));
  }
  for (char** e = environ; *e != nullptr; ++e) {
    std::string entry = *e;
    if (!replaced.count(entry.substr(0, entry.find('=')))) env_strings.push_back(entry);
  }
  std::vector<char*> envp;
  for (std::string& entry : env_strings) envp.push_back(&entry[0]);
  envp.push_back(nullptr);

  for (int attempt = 0; attempt < 3 && pid_ <= 0; ++attempt) {
    port_ = FreeLoopbackPort();
    if (port_ == 0) {
      error_ = "no free loopback port";
      return false;
    }
    std::vector<std::string> args = {program_, "server",
                                     "-o", "server-port=" + std::to_string(port_),
                                     "-o", "listen-hostname=127.0.0.1",
                                     "-o", "spool-directory=" + r + "/spool",
                                     "-o", "log-file=" + r + "/server.log",
                                     "-o", "log-level=debug",
                                     "-o", "server-options=no-tls"};
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(&arg[0]);
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, (r + "/server.out").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t child = -1;
    int status = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (status != 0) {
      error_ = std::string("cannot run ") + argv[0] + ": " + strerror(status);
      return false;
    }
    pid_ = child;
    auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    std::string socket = r + "/" + kAppName + ".sock";
    while (pid_ > 0) {
      int exit_status = 0;
      if (waitpid(pid_, &exit_status, WNOHANG) == pid_) {  // it gave up, e.g. the port was taken meanwhile
        pid_ = -1;
        error_ = "the server ended at start: " + ReadFile(r + "/server.out") + Log();
        break;
      }
      struct stat st;
      if (Answers(port_) && stat(socket.c_str(), &st) == 0) return true;
      if (Clock::now() > deadline) {
        error_ = "the server did not answer in time";
        Stop();
        return false;
      }
      Sleep(50);
    }
  }
  return pid_ > 0;
}

int AppServer::Stop(int timeout_ms) {
  if (pid_ <= 0) return -1;
  kill(pid_, SIGTERM);
  auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  int status = 0;
  while (waitpid(pid_, &status, WNOHANG) == 0) {
    if (Clock::now() > deadline) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
      pid_ = -1;
      return -1;
    }
    Sleep(20);
  }
  pid_ = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string AppServer::Log() const { return ReadFile(dir_.path() + "/server.log"); }

std::string AppServer::Diagnostics() const {
  const size_t kTail = 20000;
  std::string log = Log();
  if (log.size() > kTail) log = "...\n" + log.substr(log.size() - kTail);
  return "server output:\n" + ReadFile(dir_.path() + "/server.out") + "\nserver log:\n" + log;
}

std::string AppServer::PrinterUri(const std::string& printer) const {
  return "ipp://127.0.0.1:" + std::to_string(port_) + "/ipp/print/" + printer;
}

ProcessResult AppServer::Command(const std::vector<std::string>& args, int timeout_ms) const {
  RunOptions options;
  options.env = Environment();
  options.timeout_ms = timeout_ms;
  return RunProgram(program_, args, options);
}

std::string AppServer::OutputDir(const std::string& printer) const { return dir_.path() + "/out-" + printer; }

bool AppServer::AddPrinter(const std::string& name, const std::string& driver) {
  std::string folder = OutputDir(name);
  mkdir(folder.c_str(), 0755);
  ProcessResult added = Command({"add", "-d", name, "-m", driver, "-v", "file://" + folder});
  if (added.exit_status != 0) error_ = "add " + name + " failed: " + added.out + added.err;
  return added.exit_status == 0;
}

std::string AppServer::Output(const std::string& printer, const std::string& job_name) const {
  return ReadFile(OutputDir(printer) + "/" + OutputName(job_name));
}

int AppServer::Print(const std::string& printer, const std::string& file, const std::string& format,
                     const std::string& job_name, const std::map<std::string, std::string>& attributes) {
  http_t* http = httpConnect2("127.0.0.1", port_, nullptr, AF_INET, HTTP_ENCRYPTION_NEVER, 1, 30000, nullptr);
  if (http == nullptr) {
    error_ = "cannot connect to the server";
    return 0;
  }
  ipp_t* request = ippNewRequest(IPP_OP_PRINT_JOB);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, PrinterUri(printer).c_str());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, "tester");
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", nullptr, job_name.c_str());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr, format.c_str());
  for (const auto& attribute : attributes) AddAttribute(request, attribute.first, attribute.second);
  ipp_t* response = cupsDoFileRequest(http, request, ("/ipp/print/" + printer).c_str(), file.c_str());
  int id = ippGetInteger(ippFindAttribute(response, "job-id", IPP_TAG_INTEGER), 0);
  if (id == 0) error_ = std::string("Print-Job failed: ") + ippErrorString(cupsLastError()) + ": " + cupsLastErrorString();
  ippDelete(response);
  httpClose(http);
  return id;
}

JobResult AppServer::WaitForJob(const std::string& printer, int job_id, int timeout_ms) {
  JobResult result;
  result.id = job_id;
  auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  http_t* http = httpConnect2("127.0.0.1", port_, nullptr, AF_INET, HTTP_ENCRYPTION_NEVER, 1, 30000, nullptr);
  if (http == nullptr) {
    result.timedOut = true;
    return result;
  }
  for (;;) {
    ipp_t* request = ippNewRequest(IPP_OP_GET_JOB_ATTRIBUTES);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, PrinterUri(printer).c_str());
    ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", job_id);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, "tester");
    ipp_t* response = cupsDoRequest(http, request, ("/ipp/print/" + printer).c_str());
    result.state = static_cast<ipp_jstate_t>(ippGetInteger(ippFindAttribute(response, "job-state", IPP_TAG_ENUM), 0));
    const char* message = ippGetString(ippFindAttribute(response, "job-state-message", IPP_TAG_TEXT), 0, nullptr);
    result.message = message != nullptr ? message : "";
    result.reasons.clear();
    ipp_attribute_t* reasons = ippFindAttribute(response, "job-state-reasons", IPP_TAG_KEYWORD);
    for (int i = 0; i < ippGetCount(reasons); ++i) result.reasons.push_back(ippGetString(reasons, i, nullptr));
    result.impressions = ippGetInteger(ippFindAttribute(response, "job-impressions-completed", IPP_TAG_INTEGER), 0);
    ippDelete(response);
    if (result.state >= IPP_JSTATE_CANCELED) break;
    if (Clock::now() > deadline) {
      result.timedOut = true;
      break;
    }
    Sleep(100);
  }
  httpClose(http);
  return result;
}

bool AppServer::Cancel(const std::string& printer, int job_id) {
  http_t* http = httpConnect2("127.0.0.1", port_, nullptr, AF_INET, HTTP_ENCRYPTION_NEVER, 1, 30000, nullptr);
  if (http == nullptr) return false;
  ipp_t* request = ippNewRequest(IPP_OP_CANCEL_JOB);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, PrinterUri(printer).c_str());
  ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", job_id);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, "tester");
  ippDelete(cupsDoRequest(http, request, ("/ipp/print/" + printer).c_str()));
  httpClose(http);
  return cupsLastError() <= IPP_STATUS_OK_CONFLICTING;
}

std::vector<std::string> AppServer::PrinterReasons(const std::string& printer) {
  std::vector<std::string> out;
  http_t* http = httpConnect2("127.0.0.1", port_, nullptr, AF_INET, HTTP_ENCRYPTION_NEVER, 1, 30000, nullptr);
  if (http == nullptr) return out;
  ipp_t* request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, PrinterUri(printer).c_str());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr, "printer-state-reasons");
  ipp_t* response = cupsDoRequest(http, request, ("/ipp/print/" + printer).c_str());
  ipp_attribute_t* reasons = ippFindAttribute(response, "printer-state-reasons", IPP_TAG_KEYWORD);
  for (int i = 0; i < ippGetCount(reasons); ++i) out.push_back(ippGetString(reasons, i, nullptr));
  ippDelete(response);
  httpClose(http);
  return out;
}

}  // namespace varnel_test
