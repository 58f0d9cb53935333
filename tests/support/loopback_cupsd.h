// A CUPS scheduler of the test's own: its own folders under a scratch folder, listening on a
// loopback port chosen free at run time. Clients reach it through server() (for CUPS_SERVER or
// "-h"); it is stopped by its PID when the object goes.
#pragma once

#include <sys/types.h>

#include <string>

#include "test_support.h"

namespace varnel_test {

class LoopbackCupsd {
 public:
  LoopbackCupsd() = default;
  ~LoopbackCupsd() { Stop(); }
  LoopbackCupsd(const LoopbackCupsd&) = delete;
  LoopbackCupsd& operator=(const LoopbackCupsd&) = delete;

  // Writes the configuration, starts cupsd in the foreground and waits until it accepts
  // connections. false (and the reason in *error) when it does not come up.
  bool Start(std::string* error);
  // lpadmin: adds an enabled queue with this device URI and PPD file.
  bool AddQueue(const std::string& name, const std::string& device_uri, const std::string& ppd_path,
                std::string* error);
  // SIGTERM to our cupsd, then waits for it (SIGKILL after 10 s).
  void Stop();

  int port() const { return port_; }
  std::string server() const { return "127.0.0.1:" + std::to_string(port_); }
  std::string log() const { return ReadFile(root_.File("cupsd.log")); }

 private:
  bool WriteTree(std::string* error);

  TempDir root_;
  int port_ = 0;
  pid_t pid_ = -1;
};

}  // namespace varnel_test
