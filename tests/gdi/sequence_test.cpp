// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "prnt.h"
#include "prnt_records.h"
#include "stream_capture.h"
#include "stream_inspect.h"

using namespace varnel_test;

namespace {

using Stream = std::vector<unsigned char>;

Stream Cat(std::initializer_list<Stream> parts) {
  Stream all;
  for (const Stream& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

template <size_t N>
Stream Arr(const unsigned char (&a)[N]) { return Stream(a, a + N); }

const Stream k00 = Bytes({0, 0});

GDI_START_DOC_PARAM Doc() {
  GDI_START_DOC_PARAM d{};
  d.jobID = 42;
  d.DuplexMode = 0x20;
  d.saveMode = 0x10;
  d.densityLevel = 3;
  return d;
}

bool Contains(const Stream& s, const Stream& part) {
  return std::search(s.begin(), s.end(), part.begin(), part.end()) != s.end();
}

long Find(const Stream& s, const Stream& part) {
  auto it = std::search(s.begin(), s.end(), part.begin(), part.end());
  return it == s.end() ? -1 : static_cast<long>(it - s.begin());
}

class SequenceTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetSink(); gPPDFile[0] = '\0'; }
  void TearDown() override {
    ResetSink();
    gPPDFile[0] = '\0';
    gGetHostName = gethostname;
  }
};

}  // namespace

TEST_F(SequenceTest, StartDocCSendsEveryRecordInOrder) {
  GDI_START_DOC_PARAM d = Doc();
  int ok = 0;
  Stream out = CaptureStdout([&] { ok = Prnt_StartDoc(&d, PLATFORM_C); });
  ASSERT_EQ(ok, 1);
  GDI_SYSTEM_DATE date;
  GetSysTimeCmd(&date);
  Stream expected = Cat({Arr(UEL_CMD_C), Arr(abortCmd), Arr(endOfJobCmd), TextBytes("versions=3.1.2.1"), k00,
                         TextBytes("\x1b%-12345X@PJL\r\n"), TextBytes("@PJL ENTER LANGUAGE=PL\r\n"), k00,
                         Bytes({0x0B, 0x06, 0x11, 0x2A, 0x30, 0x84}), k00, Bytes({0x0B, 5, 0x19, 0, 0xD7}), k00,
                         Bytes({0x0B, 5, 0x15, 3, 0xD8}), Arr(date.bytes)});
  EXPECT_EQ(out, expected);
}

TEST_F(SequenceTest, StartDocZDependsOnTheExactModelName) {
  struct Case { const char* model; bool version; bool k5916; bool t9366; } cases[] = {
      {"Varnel K5916 Series", true, true, false},
      {"Varnel K5916 Series Plus", false, false, false},
      {"Varnel T8323-T9076 Series", false, false, true},
      {"Varnel Other", false, false, false},
  };
  GDI_TONER_PARAM_K8244 k;
  GetTonerParamCmdForK5916(nullptr, &k);
  GDI_TONER_PARAM_T9366 t;
  GetTonerParamCmdForT9366(nullptr, &t);
  for (const Case& c : cases) {
    snprintf(gPPDFile, sizeof gPPDFile, "%s", c.model);
    GDI_START_DOC_PARAM d = Doc();
    int ok = 0;
    Stream out = CaptureStdout([&] { ok = Prnt_StartDoc(&d, PLATFORM_Z); });
    ASSERT_EQ(ok, 1) << c.model;
    EXPECT_EQ(Contains(out, TextBytes("@PJL LANGUAGEVERSION=1.0\r\n")), c.version) << c.model;
    EXPECT_EQ(Contains(out, Arr(k.bytes)), c.k5916) << c.model;
    EXPECT_EQ(Contains(out, Arr(t.bytes)), c.t9366) << c.model;
    std::string text(out.begin(), out.end());
    size_t time = text.find("@PJL JOBTIME=");
    ASSERT_NE(time, std::string::npos);
    EXPECT_EQ(text.substr(time + 13 + 16, 2), "\r\n");
    char host[256] = {0};
    gethostname(host, sizeof host - 1);
    EXPECT_NE(text.find("@PJL JOBOWNER=" + std::string(host).substr(0, 32) + "\r\n@PJL ENTER LANGUAGE=PL\r\n"),
              std::string::npos);
    Stream binary = Cat({k00, Bytes({0x0B, 5, 0x1F, 0, 0xD1}), k00, Bytes({0x0B, 9, 0x11, 0x30, 42, 0, 0, 0, 0x81}),
                         k00, Bytes({0x0B, 5, 0x15, 3, 0xD8}), k00});
    EXPECT_TRUE(Contains(out, binary)) << c.model;
  }
}

TEST_F(SequenceTest, StartDocZCachesOnlyTheMarkedSteps) {
  // Only the cached blocks reach the collate file: CR LF, fillers and the fine-mode record.
  char path[] = "/tmp/varnel_collateXXXXXX";
  int fd = mkstemp(path);
  gCollateFile = fd;
  GDI_START_DOC_PARAM d = Doc();
  CaptureStdout([&] { Prnt_StartDoc(&d, PLATFORM_Z); });
  gCollateFile = 0;
  Stream cached(4096);
  lseek(fd, 0, SEEK_SET);
  ssize_t n = read(fd, cached.data(), cached.size());
  cached.resize(n > 0 ? static_cast<size_t>(n) : 0);
  close(fd);
  unlink(path);
  EXPECT_EQ(cached, Cat({TextBytes("\r\n"), k00, Bytes({0x0B, 5, 0x1F, 0, 0xD1}), k00, k00, k00}));
}

namespace {

// Stand-in for gethostname: the name of the computer the test pretends to run on.
const char* gStandInName = "";
size_t gStandInLength = 0;  // bytes of gStandInName to copy, without NUL when it fills the buffer
int gStandInResult = 0;

int StandInHostName(char* name, size_t length) {
  memcpy(name, gStandInName, std::min(length, gStandInLength));
  return gStandInResult;
}

}  // namespace

// The host name reaches the Z job header as the "@PJL JOBOWNER=" value. It can come from DHCP, so
// it may hold CR LF or other control bytes: the header must keep its own lines whatever it holds.
TEST_F(SequenceTest, HostNameCannotAddPjlLines) {
  const std::string x40(40, 'x');
  const std::string full(300, 'h');
  struct Case {
    const char* what;
    std::string name;
    size_t length;  // bytes the stand-in copies (npos: the name and its NUL)
    int result;
    std::string owner;  // the value of the JOBOWNER line
  } cases[] = {
      {"plain name", "printhost.example", std::string::npos, 0, "printhost.example"},
      {"CR LF and a PJL command", "evil\r\n@PJL SET COPIES=99", std::string::npos, 0, "evil@PJL SET COPIES=99"},
      {"bare LF, bare CR, tab", "a\nb\rc\td", std::string::npos, 0, "abcd"},
      {"other control bytes, DEL, quotes", "q\x01\x1b%-12345X\x7f\"z\"", std::string::npos, 0, "q%-12345Xz"},
      {"bytes above 0x7F are text", "h\xc3\xb4te", std::string::npos, 0, "h\xc3\xb4te"},
      {"longer than 32 bytes", x40, std::string::npos, 0, x40.substr(0, 32)},
      {"cleaned before it is cut", "\r\n\r\n" + x40, std::string::npos, 0, x40.substr(0, 32)},
      {"fills the buffer without NUL", full, full.size(), 0, full.substr(0, 32)},
      {"empty", "", std::string::npos, 0, ""},
      {"gethostname fails", "junk", std::string::npos, -1, ""},
  };
  gGetHostName = StandInHostName;
  for (const Case& c : cases) {
    gStandInName = c.name.c_str();
    gStandInLength = c.length == std::string::npos ? c.name.size() + 1 : c.length;
    gStandInResult = c.result;
    GDI_START_DOC_PARAM d = Doc();
    int ok = 0;
    Stream out = CaptureStdout([&] { ok = Prnt_StartDoc(&d, PLATFORM_Z); });
    ASSERT_EQ(ok, 1) << c.what;
    varnel_inspect::InspectResult inspected = varnel_inspect::InspectStream(out);
    const std::string time(reinterpret_cast<const char*>(pjlPostSendTime), 16);
    const std::vector<std::string> expected = {"@PJL", "@PJL JOBTIME=" + time, "@PJL JOBOWNER=" + c.owner,
                                               "@PJL ENTER LANGUAGE=PL"};
    EXPECT_EQ(inspected.document.pjl, expected) << c.what;
    // The whole header, byte for byte, up to the first record.
    std::string text(out.begin(), out.end());
    EXPECT_EQ(text.substr(0, text.find("\r\n@PJL ENTER LANGUAGE=PL\r\n")),
              "\x1b%-12345X@PJL\r\n@PJL JOBTIME=" + time + "\r\n@PJL JOBOWNER=" + c.owner)
        << c.what;
  }
}

TEST_F(SequenceTest, StartDocM) {
  GDI_START_DOC_PARAM d = Doc();
  Stream out = CaptureStdout([&] { EXPECT_EQ(Prnt_StartDoc(&d, PLATFORM_M), 1); });
  ASSERT_EQ(out.size(), 9u + 4 + 88 + 16 + 36);
  EXPECT_EQ(Stream(out.begin(), out.begin() + 13), TextBytes("\x1b%-12345XJZJZ"));
  EXPECT_EQ(Stream(out.begin() + 101, out.begin() + 117), Bytes({0, 0, 0, 52, 0, 0, 0, 0, 0, 0, 0, 3, 0, 36, 0x5A, 0x5A}));
  EXPECT_EQ(Stream(out.end() - 12, out.end()), Bytes({0, 0, 0, 12, 0, 2, 1, 0, 0, 0, 0, 1}));
}

TEST_F(SequenceTest, StartPagePerPlatform) {
  GDI_START_PAGE_PARAM p{};
  p.paperSize = 9;
  gImageCoverage = 77;
  Stream c = CaptureStdout([&] { EXPECT_EQ(Prnt_StartPage(&p, PLATFORM_C), 1); });
  EXPECT_EQ(gImageCoverage, 0u);
  EXPECT_EQ(c.size(), 2u + 18 + 2 + 12 + 2 + 4 + 2);
  EXPECT_EQ(Stream(c.end() - 6, c.end()), Cat({Arr(hostUseCmd), k00}));
  Stream z = CaptureStdout([&] { EXPECT_EQ(Prnt_StartPage(&p, PLATFORM_Z), 1); });
  EXPECT_EQ(z.size(), 2u + 18 + 2 + 12 + 2);
  gImageCoverage = 77;
  Stream m9 = CaptureStdout([&] { EXPECT_EQ(Prnt_StartPage(&p, PLATFORM_M), 1); });
  EXPECT_EQ(gImageCoverage, 77u);
  EXPECT_EQ(m9.size(), 16u + 14 * 12);
  p.paperSize = 0;
  Stream m0 = CaptureStdout([&] { EXPECT_EQ(Prnt_StartPage(&p, PLATFORM_M), 1); });
  EXPECT_EQ(m0.size(), 16u + 17 * 12);
  EXPECT_EQ(Stream(m0.begin(), m0.begin() + 4), Bytes({0, 0, 0, 220}));
  gImageCoverage = 0;
}

TEST_F(SequenceTest, MachineDuplexFollowsOddPagesOnC) {
  GDI_END_PAGE_PARAM e{};
  e.bMachDup = 1;
  e.resolutionE = 600;
  e.paperWidthE = 210;
  for (int page = 1; page <= 4; ++page) {
    e.page = page;
    Stream out = CaptureStdout([&] { EXPECT_EQ(Prnt_EndPage(&e, PLATFORM_C), 1); });
    Stream tail = Cat({Arr(formFeedCmd), k00, Arr(machineDuplexCmd)});
    EXPECT_EQ(Stream(out.end() - static_cast<long>(tail.size()), out.end()) == tail, page % 2 == 1) << page;
  }
  GDI_END_DOC_PARAM d{3, 1};
  Stream end3 = CaptureStdout([&] { EXPECT_EQ(Prnt_EndDoc(&d, PLATFORM_C), 1); });
  EXPECT_EQ(end3, Cat({k00, Arr(machineDuplexCmd), k00, Arr(queryStatusCmd), k00, Arr(resetCmd), Arr(endOfJobCmd)}));
  d.page = 4;
  Stream end4 = CaptureStdout([&] { EXPECT_EQ(Prnt_EndDoc(&d, PLATFORM_C), 1); });
  EXPECT_EQ(end4, Cat({k00, Arr(queryStatusCmd), k00, Arr(resetCmd), Arr(endOfJobCmd)}));
  EXPECT_EQ(SendMachineDuplexCmd(2, 0), 1);
}

TEST_F(SequenceTest, EndPageAndEndDocZM) {
  GDI_END_PAGE_PARAM e{};
  EXPECT_EQ(CaptureStdout([&] { Prnt_EndPage(&e, PLATFORM_Z); }), Cat({k00, Arr(formFeedCmd)}));
  EXPECT_EQ(CaptureStdout([&] { Prnt_EndPage(&e, PLATFORM_M); }), Bytes({0, 0, 0, 16, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0x5A, 0x5A}));
  GDI_END_DOC_PARAM d{1, 1};
  EXPECT_EQ(CaptureStdout([&] { Prnt_EndDoc(&d, PLATFORM_Z); }), Cat({Arr(resetCmd), Arr(endOfJobCmd)}));
  EXPECT_EQ(CaptureStdout([&] { Prnt_EndDoc(&d, PLATFORM_M); }),
            Cat({Bytes({0, 0, 0, 16, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0x5A, 0x5A}), Arr(UEL_CMD)}));
  EXPECT_EQ(CaptureStdout([] { SendManualDuplexCmd(PLATFORM_Z); }), Arr(manualDuplexCmd_Z));
  EXPECT_EQ(CaptureStdout([] { SendManualDuplexCmd(PLATFORM_C); }), Arr(manualDuplexCmd_C));
  EXPECT_EQ(CaptureStdout([] { SendManualDuplexCmd(PLATFORM_M); }), Bytes({0, 0, 0, 16, 0, 0, 0, 11, 0, 0, 0, 0, 0, 0, 0x5A, 0x5A}));
}

TEST_F(SequenceTest, EndPageCChecksumAndCoverage) {
  gImageChecksum = 0x9E;
  gImageCoverage = 1000000;
  GDI_END_PAGE_PARAM e{};
  e.page = 2; e.resolutionE = 600; e.densityE = 2; e.paperWidthE = 210;
  Stream out = CaptureStdout([&] { EXPECT_EQ(Prnt_EndPage(&e, PLATFORM_C), 1); });
  EXPECT_EQ(out, Cat({Arr(UEL_CMD_C), k00, Bytes({0x0B, 6, 0x1A, 0x9E, 0, 0x37}), k00, Bytes({0x0B, 6, 0x1E, 0xE8, 3, 0xE6}),
                      k00, Arr(formFeedCmd)}));
  EXPECT_EQ(e.dotCnt, 1000);
  gImageCoverage = 0;
}

TEST_F(SequenceTest, PlatformZeroSendsNothing) {
  strcpy(prntLastError, "before");
  GDI_START_DOC_PARAM d = Doc();
  GDI_START_PAGE_PARAM p{};
  GDI_END_PAGE_PARAM e{};
  GDI_END_DOC_PARAM ed{};
  Stream out = CaptureStdout([&] {
    EXPECT_EQ(Prnt_StartDoc(&d, 0), 0);
    EXPECT_EQ(Prnt_StartPage(&p, 0), 0);
    EXPECT_EQ(Prnt_EndPage(&e, 0), 0);
    EXPECT_EQ(SendManualDuplexCmd(0), 0);
    EXPECT_EQ(Prnt_EndDoc(&ed, 0), 0);
  });
  EXPECT_TRUE(out.empty());
  EXPECT_STREQ(prntLastError, "before");
}

// The sink fails from a chosen record on: the records before it are out, the chain names it.
TEST_F(SequenceTest, FailingSinkStopsAtTheRecordAndNamesIt) {
  GDI_START_DOC_PARAM d = Doc();
  Stream full = CaptureStdout([&] { Prnt_StartDoc(&d, PLATFORM_C); });
  Stream density = Bytes({0x0B, 5, 0x15, 3, 0xD8});
  long at = Find(full, density);
  ASSERT_GT(at, 0);
  int ok = 1;
  Stream cut = CaptureStdout([&] { ok = Prnt_StartDoc(&d, PLATFORM_C); }, at);
  EXPECT_EQ(ok, 0);
  EXPECT_EQ(cut, Stream(full.begin(), full.begin() + at));
  EXPECT_STREQ(prntLastError, "Prnt_StartDoc() :: send cmdDensity Fail 0 ==  \n");

  // A failing filler before a failing record: record message first, then Insert00's.
  ResetSink();
  GDI_END_PAGE_PARAM e{};
  e.page = 1; e.bMachDup = 1;
  Stream endPage = CaptureStdout([&] { Prnt_EndPage(&e, PLATFORM_C); });
  long ff = Find(endPage, Arr(formFeedCmd));
  ASSERT_GT(ff, 0);
  CaptureStdout([&] { EXPECT_EQ(Prnt_EndPage(&e, PLATFORM_C), 0); }, ff + 4);
  EXPECT_STREQ(prntLastError,
               "Prnt_EndPage() :: MachineDuplexCmd Fail .\nSendMachineDuplexCmd() :: send machineDuplexCmd Fail 0 ==  \n"
               "Insert00() :: Send 00 00 to file Fail0 ==  \n");

  ResetSink();
  GDI_START_PAGE_PARAM p{};
  p.paperSize = 9;
  Stream mPage = CaptureStdout([&] { Prnt_StartPage(&p, PLATFORM_M); });
  CaptureStdout([&] { EXPECT_EQ(Prnt_StartPage(&p, PLATFORM_M), 0); }, 16 + 12 * 5);
  EXPECT_STREQ(prntLastError, "Prnt_StartPage() :: send H_RESOLUTION_PARAM Fail 0 ==  \n");
}
