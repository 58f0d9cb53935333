#include "loopback_cupsd.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

namespace varnel_test {

namespace {

// A port nobody listens on right now, as the kernel hands out ephemeral ports.
int FreeLoopbackPort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return 0;
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  int port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
    port = ntohs(address.sin_port);
  close(fd);
  return port;
}

bool Accepts(int port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return false;
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return ok;
}

std::string FindProgram(const char* name) {
  for (const char* folder : {"/usr/sbin/", "/usr/bin/", "/sbin/", "/bin/"}) {
    std::string path = std::string(folder) + name;
    if (access(path.c_str(), X_OK) == 0) return path;
  }
  return name;
}

bool MakeFolder(const std::string& path) { return mkdir(path.c_str(), 0755) == 0 || errno == EEXIST; }

}  // namespace

bool LoopbackCupsd::WriteTree(std::string* error) {
  const std::string& r = root_.path();
  for (const char* folder : {"etc", "lib", "lib/backend", "lib/filter", "spool", "spool/tmp", "cache", "state", "log"}) {
    if (!MakeFolder(r + "/" + folder)) {
      *error = "cannot create " + r + "/" + folder;
      return false;
    }
  }
  // lpadmin only accepts device URIs whose scheme has a backend; cupsd needs its helper programs.
  if (symlink("/usr/lib/cups/daemon", (r + "/lib/daemon").c_str()) != 0 ||
      symlink("/usr/lib/cups/backend/socket", (r + "/lib/backend/socket").c_str()) != 0) {
    *error = "cannot link the CUPS helpers into " + r;
    return false;
  }
  WriteFile(r + "/etc/cups-files.conf",
            "ServerRoot " + r + "/etc\nServerBin " + r + "/lib\nRequestRoot " + r + "/spool\nTempDir " + r +
                "/spool/tmp\nCacheDir " + r + "/cache\nStateDir " + r + "/state\nServerKeychain " + r +
                "/etc/ssl\nPrintcap " + r + "/etc/printcap\nErrorLog stderr\nAccessLog stderr\nPageLog stderr\n");
  WriteFile(r + "/etc/cupsd.conf", "LogLevel warn\nListen 127.0.0.1:" + std::to_string(port_) + "\nListen " + r +
                                       "/cupsd.sock\nBrowsing No\nWebInterface No\nDefaultAuthType None\n"
                                       "<Location />\n  Order allow,deny\n  Allow from 127.0.0.1\n</Location>\n"
                                       "<Policy default>\n  <Limit All>\n    Order deny,allow\n  </Limit>\n</Policy>\n");
  return true;
}

bool LoopbackCupsd::Start(std::string* error) {
  if (pid_ > 0) return true;
  port_ = FreeLoopbackPort();
  if (port_ == 0) {
    *error = "no free loopback port";
    return false;
  }
  if (!WriteTree(error)) return false;
  std::string cupsd = FindProgram("cupsd");
  std::string conf = root_.File("etc/cupsd.conf");
  std::string files = root_.File("etc/cups-files.conf");
  std::string log = root_.File("cupsd.log");
  pid_ = fork();
  if (pid_ == 0) {
    int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int in = open("/dev/null", O_RDONLY);
    dup2(in, 0);
    dup2(out, 1);
    dup2(out, 2);
    for (int fd = 3; fd < 1024; ++fd) close(fd);
    execl(cupsd.c_str(), cupsd.c_str(), "-f", "-c", conf.c_str(), "-s", files.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  if (pid_ < 0) {
    *error = "fork failed";
    return false;
  }
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  while (std::chrono::steady_clock::now() < deadline) {
    if (Accepts(port_)) return true;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      *error = "cupsd ended at start:\n" + ReadFile(log);
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  *error = "cupsd did not answer on " + server() + ":\n" + ReadFile(log);
  Stop();
  return false;
}

bool LoopbackCupsd::AddQueue(const std::string& name, const std::string& device_uri, const std::string& ppd_path,
                             std::string* error) {
  ProcessResult r = RunProgram(FindProgram("lpadmin"),
                               {"-h", server(), "-p", name, "-E", "-v", device_uri, "-P", ppd_path});
  if (r.exit_status == 0) return true;
  *error = "lpadmin failed (" + std::to_string(r.exit_status) + "): " + r.err + r.out;
  return false;
}

void LoopbackCupsd::Stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  int status = 0;
  while (waitpid(pid_, &status, WNOHANG) != pid_) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  pid_ = -1;
}

}  // namespace varnel_test
