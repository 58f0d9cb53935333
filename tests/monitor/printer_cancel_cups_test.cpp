// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// The whole path: pstoVarnel finds its queue's device URI in a private cupsd, its status thread asks
// the (fake) printer at that address, and a cancel at the printer cuts the job at a page boundary.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <optional>
#include <cstring>
#include <string>
#include <vector>

#include "fake_snmp_printer.h"
#include "private_cupsd.h"
#include "test_support.h"

extern char** environ;

namespace {

using varnel_test::FakeSnmpPrinter;
using varnel_test::LocalHostName;
using varnel_test::PrivateCupsd;
using varnel_test::TempDir;

const char kQueue[] = "varnelqd";
const int kPages = 200;
const std::string kTrailer =
    std::string("%%Trailer\nend\n%%Pages: 4\n%%BoundingBox: 0 0 595 842\n%%EOF\n") + "\x04\x1b%-12345X\n";

const char kPpd[] =
    "*PPD-Adobe: \"4.3\"\n*FormatVersion: \"4.3\"\n*FileVersion: \"1.0\"\n*LanguageVersion: English\n"
    "*LanguageEncoding: ISOLatin1\n*PCFileName: \"PRLP8400.PPD\"\n*Manufacturer: \"Prul\"\n"
    "*Product: \"(PRLP8400DN)\"\n*ModelName: \"Prul PRLP8400DN\"\n*ShortNickName: \"PRLP8400DN Series PS\"\n"
    "*NickName: \"Prul PRLP8400DN Series PS\"\n*PSVersion: \"(3010.000) 0\"\n*LanguageLevel: \"3\"\n"
    "*ColorDevice: False\n*DefaultColorSpace: Gray\n*FileSystem: False\n*Throughput: \"30\"\n"
    "*LandscapeOrientation: Plus90\n*TTRasterizer: Type42\n"
    "*OpenUI *PageSize/Page Size: PickOne\n*OrderDependency: 10 AnySetup *PageSize\n*DefaultPageSize: A4\n"
    "*PageSize A4/A4: \"<</PageSize[595 842]>>setpagedevice\"\n*CloseUI: *PageSize\n"
    "*OpenUI *PageRegion: PickOne\n*OrderDependency: 10 AnySetup *PageRegion\n*DefaultPageRegion: A4\n"
    "*PageRegion A4/A4: \"<</PageSize[595 842]>>setpagedevice\"\n*CloseUI: *PageRegion\n"
    "*DefaultImageableArea: A4\n*ImageableArea A4/A4: \"12 12 583 830\"\n"
    "*DefaultPaperDimension: A4\n*PaperDimension A4/A4: \"595 842\"\n";

std::string PageText(int page) {
  std::string text = "%%Page: " + std::to_string(page) + " " + std::to_string(page) + "\n";
  for (int line = 0; line < 12; ++line)
    text += "% page " + std::to_string(page) + " line " + std::to_string(line) + " ........................\n";
  text += "/Helvetica findfont 12 scalefont setfont 72 720 moveto (page " + std::to_string(page) +
          ") show\nshowpage\n";
  return text;
}

// A PostScript job as the stock filters hand it over: the PPD's JCL header, then many pages.
std::string MultiPageJob() {
  std::string job = "\x1b%-12345X@PJL\n@PJL JOB NAME = \"Report\" DISPLAY = \"12 alice Report\"\n"
                    "@PJL SET USERNAME = \"alice\"\n@PJL ENTER LANGUAGE=POSTSCRIPT\n"
                    "%!PS-Adobe-3.0\n%%Pages: " + std::to_string(kPages) +
                    "\n%%BoundingBox: 0 0 595 842\n%%EndComments\n%%BeginSetup\n%%EndSetup\n";
  for (int page = 1; page <= kPages; ++page) job += PageText(page);
  job += "%%Trailer\n%%EOF\n\x04\x1b%-12345X@PJL EOJ\n\x1b%-12345X";
  return job;
}

// pstoVarnel as CUPS starts it, but with standard output read only when the test says so: the
// small pipe fills and holds the filter in the middle of the job until then.
class HeldFilter {
 public:
  HeldFilter(const std::vector<std::string>& argv, const std::vector<std::string>& extra_env,
             const std::string& stderr_path) {
    int out[2];
    if (pipe(out) != 0) return;
    fcntl(out[1], F_SETPIPE_SZ, 4096);
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) env.push_back(*e);
    env.insert(env.end(), extra_env.begin(), extra_env.end());
    std::vector<std::string> args = argv;
    pid_ = fork();
    if (pid_ == 0) {
      int in = open("/dev/null", O_RDONLY);
      int err = open(stderr_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(in, 0);
      dup2(out[1], 1);
      dup2(err, 2);
      for (int fd = 3; fd < 1024; ++fd) close(fd);  // no side channel: the PPD names the model
      std::vector<char*> c_args, c_env;
      for (auto& a : args) c_args.push_back(&a[0]);
      c_args.push_back(nullptr);
      for (auto& e : env) c_env.push_back(&e[0]);
      c_env.push_back(nullptr);
      signal(SIGPIPE, SIG_DFL);
      execve(varnel_test::BuildPath("ps_filter/pstoVarnel").c_str(), c_args.data(), c_env.data());
      _exit(127);
    }
    close(out[1]);
    out_fd_ = out[0];
  }
  ~HeldFilter() {
    if (pid_ > 0 && !reaped_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (out_fd_ >= 0) close(out_fd_);
  }

  bool started() const { return pid_ > 0 && out_fd_ >= 0; }

  // Reads standard output to its end and waits for the exit; false when that takes longer.
  bool Drain(int timeout_ms, std::string* output, int* exit_status) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
      int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                      deadline - std::chrono::steady_clock::now()).count());
      if (left <= 0) return false;
      pollfd p = {out_fd_, POLLIN, 0};
      if (poll(&p, 1, left) <= 0) continue;
      char buffer[65536];
      ssize_t n = read(out_fd_, buffer, sizeof buffer);
      if (n <= 0) break;
      output->append(buffer, static_cast<size_t>(n));
    }
    while (std::chrono::steady_clock::now() < deadline) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        reaped_ = true;
        *exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return true;
      }
      usleep(10000);
    }
    return false;
  }

 private:
  pid_t pid_ = -1;
  int out_fd_ = -1;
  bool reaped_ = false;
};

class PrinterCancelThroughCups : public testing::Test {
 protected:
  void SetUp() override {
    host_ = LocalHostName();
    ASSERT_FALSE(host_.empty());
    ppd_ = scratch_.File("prlp8400dn.ppd");
    job_ = scratch_.File("job.ps");
    varnel_test::WriteFile(ppd_, kPpd);
    varnel_test::WriteFile(job_, MultiPageJob());
    // The scheduler accepts a device URI only when a backend of its scheme is installed.
    ASSERT_TRUE(cupsd_.InstallBackend("/usr/lib/cups/backend/socket", "socket"));
    ASSERT_TRUE(cupsd_.Start()) << cupsd_.ErrorLog();
    ASSERT_TRUE(cupsd_.AddQueue(kQueue, "socket://127.0.0.1:9100", ppd_)) << cupsd_.ErrorLog();
  }

  HeldFilter* StartFilter() {
    filter_.reset(new HeldFilter({kQueue, "12", "alice", "Report", "1", "PageSize=A4", job_},
                                 {"PPD=" + ppd_, "CUPS_SERVER=" + cupsd_.server()}, scratch_.File("filter.log")));
    return filter_.get();
  }
  std::string FilterLog() const { return varnel_test::ReadFile(scratch_.File("filter.log")); }

  std::string host_;
  TempDir scratch_;
  std::string ppd_, job_;
  PrivateCupsd cupsd_;
  std::unique_ptr<HeldFilter> filter_;
};

int CountPages(const std::string& output) {
  int pages = 0;
  for (size_t at = output.find("%%Page: "); at != std::string::npos; at = output.find("%%Page: ", at + 1)) ++pages;
  return pages;
}

TEST_F(PrinterCancelThroughCups, ACancelAtThePrinterEndsTheJobAtAPageBoundary) {
  FakeSnmpPrinter printer({FakeSnmpPrinter::StatusReply(0x86, host_)});
  ASSERT_TRUE(printer.listening()) << printer.bind_error();
  HeldFilter* filter = StartFilter();
  ASSERT_TRUE(filter->started());
  ASSERT_TRUE(printer.WaitForReplies(1, 20000)) << FilterLog();
  std::string output;
  int exit_status = -1;
  ASSERT_TRUE(filter->Drain(20000, &output, &exit_status)) << FilterLog();
  std::string log = FilterLog();
  EXPECT_EQ(exit_status, 0) << log;
  EXPECT_NE(log.find("uri:socket://127.0.0.1:9100,jobid:12,jobower:" + host_), std::string::npos) << log;
  EXPECT_NE(log.find("ip:127.0.0.1\n"), std::string::npos) << log;
  EXPECT_NE(output.find("@PJL SET JOBOWNER=\"" + host_ + "\"\n"), std::string::npos);

  ASSERT_GT(output.size(), kTrailer.size());
  EXPECT_EQ(output.substr(output.size() - kTrailer.size()), kTrailer);
  std::string before = output.substr(0, output.size() - kTrailer.size());
  int pages = CountPages(before);
  EXPECT_GE(pages, 1);
  EXPECT_LT(pages, kPages);
  // The last page sent is complete, and nothing of the next one came out.
  const std::string last_page = PageText(pages);
  bool ends_with_last_page = before.size() >= last_page.size() &&
                             before.compare(before.size() - last_page.size(), std::string::npos, last_page) == 0;
  EXPECT_TRUE(ends_with_last_page) << before.substr(before.size() > 300 ? before.size() - 300 : 0);
  EXPECT_EQ(printer.requests().size(), 1u);
}

TEST_F(PrinterCancelThroughCups, APrinterThatDoesNotCancelLeavesTheJobWhole) {
  struct Case {
    const char* name;
    std::optional<std::string> reply;
  } cases[] = {
      {"status 0x07", FakeSnmpPrinter::StatusReply(0x07, host_)},
      {"cancel of another host's job", FakeSnmpPrinter::StatusReply(0x06, "other-workstation")},
      {"no answer at all", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeSnmpPrinter printer({c.reply});
    ASSERT_TRUE(printer.listening()) << printer.bind_error();
    HeldFilter* filter = StartFilter();
    ASSERT_TRUE(filter->started());
    ASSERT_TRUE(printer.WaitForRequests(1, 20000)) << FilterLog();
    // The status thread may now wait 12 s for a silent printer; the job must not wait with it.
    auto start = std::chrono::steady_clock::now();
    std::string output;
    int exit_status = -1;
    ASSERT_TRUE(filter->Drain(20000, &output, &exit_status)) << FilterLog();
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(seconds, 5.0);
    EXPECT_EQ(exit_status, 0);
    EXPECT_EQ(CountPages(output), kPages);
    EXPECT_EQ(output.find(kTrailer), std::string::npos);
    EXPECT_NE(output.find(PageText(kPages)), std::string::npos);
  }
}

}  // namespace
