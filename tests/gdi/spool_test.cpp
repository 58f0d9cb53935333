// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Spool routing and the end-of-job replays of collated copies and manual duplex, in-process:
// pages are stand-in records written through the output sink, standard output goes to a file.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "common.h"
#include "spool.h"
#include "captured_stream.h"
#include "test_support.h"

using namespace varnel_test;

namespace {

struct JobSettings {
  int pages = 1;
  unsigned copies = 1;
  int collate = 0;
  int manualDuplex = 0;
  int autoDuplex = 0;
  int reverse = 0;
  size_t pageBytes = 0;  // padding that makes a page record this long (at least its marker)
  int cancelAfterPage = 0;  // SIGTERM noticed after this page (0: never)
  bool spoolFolderMissing = false;  // TMPDIR names a folder that does not exist
  // A spool file that stops taking writes after this page (0: never): its descriptor is made
  // read-only in place, so that its next write fails with EBADF.
  int spoolBreaksAfterPage = 0;
  int* spoolThatBreaks = nullptr;
};

struct JobRun {
  std::string out;
  std::string err;
  int endStatus = -1;
  int outputError = 0;  // errno of a failed printer output, 0 when it worked
  std::vector<std::string> spoolFilesLeft;
};

std::string PageRecord(int page, size_t bytes) {
  std::string record = "#page-" + std::to_string(page) + "#";
  if (record.size() < bytes) record.append(bytes - record.size(), '.');
  return record;
}

void Send(const std::string& data, int cache) {
  std::string copy = data;
  SendDataToFile(copy.data(), static_cast<int>(copy.size()), cache);
}

void ResetJobGlobals() {
  ResetOutputFailures();
  g_page = 0;
  Canceled = 0;
  gSendDataToDevice = 1;
  gCollateFile = gManualDuplexOddFile = gManualDuplexEvenFile = 0;
  gCacheSize.clear();
  prntLastError[0] = '\0';
}

// Restores TMPDIR when the test is done.
class TmpDirSetting {
 public:
  explicit TmpDirSetting(const std::string& path) {
    const char* old = getenv("TMPDIR");
    hadOld_ = old != nullptr;
    if (hadOld_) old_ = old;
    setenv("TMPDIR", path.c_str(), 1);
  }
  ~TmpDirSetting() {
    if (hadOld_) setenv("TMPDIR", old_.c_str(), 1);
    else unsetenv("TMPDIR");
  }

 private:
  bool hadOld_ = false;
  std::string old_;
};

SPOOL_JOB MakeJob(const JobSettings& settings, GDI_START_PAGE_PARAM* lastPage) {
  SPOOL_JOB job;
  memset(&job, 0, sizeof job);
  job.iCopies = settings.copies;
  job.collate = settings.collate;
  job.manualDuplex = settings.manualDuplex;
  job.autoDuplex = settings.autoDuplex;
  job.reverse = settings.reverse;
  job.platform = PLATFORM_Z;
  job.duplexMsg = "Turn the stack over";
  job.lastHeader = GreyHeader(100, 100);
  memset(lastPage, 0, sizeof *lastPage);
  lastPage->userPrntAreaW = 64;
  lastPage->userPrntAreaH = 64;
  job.startPageParam = lastPage;
  return job;
}

// The page loop in miniature: document start, spool set-up on the first page, routing and one
// cached record per page, then the end of the job and clean-up. The spool files go to their own
// folder, so that anything left behind can be seen.
// otherStdout, when not -1, replaces standard output for the end of the job.
JobRun RunJob(const JobSettings& settings, int otherStdout = -1) {
  TempDir dir;
  TempDir spoolDir;
  TmpDirSetting tmp(settings.spoolFolderMissing ? spoolDir.File("missing") : spoolDir.path());
  ResetJobGlobals();
  GDI_START_PAGE_PARAM lastPage;
  SPOOL_JOB job = MakeJob(settings, &lastPage);
  cups_page_header2_t header = job.lastHeader;
  header.NumCopies = settings.copies;

  JobRun run;
  {
    CapturedStream err(2, dir.File("err"));
    CapturedStream out(1, dir.File("out"));
    Send("<doc>", 0);
    bool setUp = true;
    for (int page = 1; page <= settings.pages; ++page) {
      g_page = page;
      if (page == 1 && !SpoolSetUp(&job, &header)) {
        setUp = false;
        break;
      }
      SpoolRoutePage(&job);
      Send(PageRecord(page, settings.pageBytes), 1);
      if (page == settings.spoolBreaksAfterPage && *settings.spoolThatBreaks != 0) {
        int readOnly = open("/dev/null", O_RDONLY);
        dup2(readOnly, *settings.spoolThatBreaks);
        close(readOnly);
      }
      if (page == settings.cancelAfterPage) Canceled = 1;
      if (Canceled) break;
    }
    if (setUp) {
      if (otherStdout != -1) {
        fflush(stdout);
        dup2(otherStdout, 1);
      }
      run.endStatus = SpoolEndOfJob(&job);
      Send("</doc>", 0);
      run.outputError = PrinterOutputError();
    }
    SpoolRemove(&job);
    run.out = out.Finish();
    run.err = err.Finish();
  }
  run.spoolFilesLeft = ListFiles(spoolDir.path());
  EXPECT_EQ(gCollateFile, 0);
  EXPECT_EQ(gManualDuplexOddFile, 0);
  EXPECT_EQ(gManualDuplexEvenFile, 0);
  ResetJobGlobals();
  return run;
}

// The page numbers in the order the printer receives them.
std::vector<int> PagesSent(const std::string& out) {
  std::vector<int> pages;
  static const std::regex marker("#page-([0-9]+)#");
  for (auto it = std::sregex_iterator(out.begin(), out.end(), marker); it != std::sregex_iterator(); ++it)
    pages.push_back(std::stoi((*it)[1]));
  return pages;
}

std::vector<int> Pages(std::initializer_list<int> pages) { return std::vector<int>(pages); }

}  // namespace

TEST(SpoolReplay, SendsThePagesInPrinterOrder) {
  struct Case {
    const char* name;
    JobSettings job;
    std::vector<int> expected;
  };
  auto job = [](int pages, unsigned copies, int collate, int manual, int reverse, int autoDuplex = 0) {
    JobSettings s;
    s.pages = pages;
    s.copies = copies;
    s.collate = collate;
    s.manualDuplex = manual;
    s.reverse = reverse;
    s.autoDuplex = autoDuplex;
    return s;
  };
  const Case cases[] = {
      {"collated 3 copies of 2 pages", job(2, 3, 1, 0, 0), Pages({1, 2, 1, 2, 1, 2})},
      {"uncollated 3 copies: nothing replayed", job(2, 3, 0, 0, 0), Pages({1, 2})},
      {"collated single copy: nothing replayed", job(2, 1, 1, 0, 0), Pages({1, 2})},
      {"automatic duplex, collated 2 copies of 3", job(3, 2, 1, 0, 0, 1), Pages({1, 2, 3, 1, 2, 3})},
      {"manual duplex 5 pages REVERSE 0", job(5, 1, 0, 1, 0), Pages({1, 3, 5, 4, 2})},
      {"manual duplex 5 pages REVERSE 1", job(5, 1, 0, 1, 1), Pages({1, 3, 5, 4, 2})},
      {"manual duplex 4 pages", job(4, 1, 0, 1, 0), Pages({1, 3, 4, 2})},
      {"manual duplex 1 page", job(1, 1, 0, 1, 0), Pages({1})},
      {"manual duplex collated 2 copies of 3", job(3, 2, 1, 1, 0), Pages({1, 3, 1, 3, 2, 2})},
      {"manual duplex uncollated 2 copies of 3", job(3, 2, 0, 1, 0), Pages({1, 3, 2})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    JobRun run = RunJob(c.job);
    EXPECT_EQ(PagesSent(run.out), c.expected);
    EXPECT_EQ(run.out.rfind("<doc>", 0), 0u);
    EXPECT_EQ(run.out.size() - run.out.rfind("</doc>"), 6u) << "the document end comes last";
    EXPECT_EQ(run.endStatus, 1);
    EXPECT_TRUE(run.spoolFilesLeft.empty());
    bool turnOverShown = run.err.find("INFO:Turn the stack over\n") != std::string::npos;
    EXPECT_EQ(turnOverShown, c.job.manualDuplex == 1) << run.err;
  }
}

// Records larger than a replay chunk come back whole and unchanged, in every kind of replay.
TEST(SpoolReplay, RecordsLargerThanAChunkComeBackWhole) {
  for (int manual : {0, 1}) {
    SCOPED_TRACE(manual);
    JobSettings settings;
    settings.pages = 4;
    settings.copies = 2;
    settings.collate = 1;
    settings.manualDuplex = manual;
    settings.pageBytes = 70000;
    JobRun run = RunJob(settings);
    std::vector<int> order = manual ? Pages({1, 3, 1, 3, 4, 2, 4, 2}) : Pages({1, 2, 3, 4, 1, 2, 3, 4});
    EXPECT_EQ(PagesSent(run.out), order);
    // Between the records only the printer's own records may appear (the manual-duplex command).
    size_t from = 0;
    for (int page : order) {
      size_t at = run.out.find(PageRecord(page, settings.pageBytes), from);
      ASSERT_NE(at, std::string::npos) << "page " << page << " is not whole";
      from = at + settings.pageBytes;
    }
  }
}

// More even pages than a fixed table of 1024 entries could describe.
TEST(SpoolReplay, ManualDuplexOfManyPagesReplaysEveryEvenPage) {
  JobSettings settings;
  settings.pages = 4101;
  settings.manualDuplex = 1;
  JobRun run = RunJob(settings);
  std::vector<int> expected;
  for (int page = 1; page <= 4101; page += 2) expected.push_back(page);
  for (int page = 4100; page >= 2; page -= 2) expected.push_back(page);
  EXPECT_EQ(PagesSent(run.out), expected);
  EXPECT_TRUE(run.spoolFilesLeft.empty());
}

// A job cancelled between pages gets no replay, its document end still reaches the printer and
// no spool file stays behind.
TEST(SpoolReplay, CancelBetweenPagesReplaysNothing) {
  struct Case {
    const char* name;
    int collate, manual, cancelAfter;
    std::vector<int> expected;
  };
  const Case cases[] = {
      {"collated copies", 1, 0, 2, Pages({1, 2})},
      {"manual duplex after an odd page", 0, 1, 3, Pages({1, 3})},
      {"manual duplex after an even page", 0, 1, 2, Pages({1})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    JobSettings settings;
    settings.pages = 4;
    settings.copies = 3;
    settings.collate = c.collate;
    settings.manualDuplex = c.manual;
    settings.cancelAfterPage = c.cancelAfter;
    JobRun run = RunJob(settings);
    EXPECT_EQ(PagesSent(run.out), c.expected);
    EXPECT_EQ(run.out.size() - run.out.rfind("</doc>"), 6u) << run.out;
    EXPECT_EQ(run.err.find("INFO:"), std::string::npos);
    EXPECT_TRUE(run.spoolFilesLeft.empty());
  }
}

// A cancel during a collate replay lets the page being replayed finish and stops there, so the
// printer never gets half a page. The replay goes into a small pipe; its reader raises the cancel
// flag half-way through the first replayed page.
TEST(SpoolReplay, CancelDuringReplayStopsAtAPageBoundary) {
  const size_t pageBytes = 100000;
  int pipeEnds[2];
  ASSERT_EQ(pipe(pipeEnds), 0);
  fcntl(pipeEnds[1], F_SETPIPE_SZ, 4096);
  std::string replayed;
  std::thread reader([&] {
    char buffer[4096];
    ssize_t got;
    while ((got = read(pipeEnds[0], buffer, sizeof buffer)) > 0) {
      replayed.append(buffer, static_cast<size_t>(got));
      if (replayed.size() > pageBytes / 2) Canceled = 1;
    }
  });
  JobSettings settings;
  settings.pages = 3;
  settings.copies = 3;
  settings.collate = 1;
  settings.pageBytes = pageBytes;
  JobRun run = RunJob(settings, pipeEnds[1]);
  close(pipeEnds[1]);
  reader.join();
  close(pipeEnds[0]);
  EXPECT_EQ(PagesSent(run.out), Pages({1, 2, 3}));
  EXPECT_TRUE(replayed == PageRecord(1, pageBytes) + "</doc>") << replayed.size() << " bytes replayed";
  EXPECT_TRUE(run.spoolFilesLeft.empty());
}

// Standard output that fails for good ends the replay at once, instead of offering the same
// chunk for ever: a descriptor that cannot be written (EBADF) and a printer connection closed by
// the other side (EPIPE). The failure is remembered with its cause for the job's last word; the
// replay itself logs no error of its own.
TEST(SpoolReplay, FailedStandardOutputEndsTheReplay) {
  TempDir dir;
  WriteFile(dir.File("read-only"), "");
  int pipeEnds[2];
  ASSERT_EQ(pipe(pipeEnds), 0);
  close(pipeEnds[0]);
  struct sigaction ignore = {}, saved = {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &ignore, &saved);
  struct Case {
    const char* name;
    int fd;
    int error;
  };
  const Case cases[] = {
      {"read-only descriptor", open(dir.File("read-only").c_str(), O_RDONLY), EBADF},
      {"closed pipe", pipeEnds[1], EPIPE},
  };
  for (const Case& c : cases) {
    for (int manual : {0, 1}) {
      SCOPED_TRACE(testing::Message() << c.name << ", manual duplex " << manual);
      JobSettings settings;
      settings.pages = 3;
      settings.copies = 3;
      settings.collate = 1;
      settings.manualDuplex = manual;
      JobRun run = RunJob(settings, c.fd);
      EXPECT_EQ(run.endStatus, 0);
      EXPECT_EQ(run.outputError, c.error);
      EXPECT_EQ(run.err.find("ERROR: "), std::string::npos) << run.err;
      EXPECT_EQ(run.err.find("INFO:Turn the stack over"), std::string::npos) << run.err;
      EXPECT_TRUE(run.spoolFilesLeft.empty());
    }
    close(c.fd);
  }
  sigaction(SIGPIPE, &saved, nullptr);
}

// A spool file that cannot be created, or that fails while the pages are produced, never touches
// the printer stream: the pages go out as they would have, the document is ended, and the end of
// the job says what it could not print and fails. Nothing is left behind.
TEST(SpoolFailure, LosesOnlyWhatTheBrokenFileHeld) {
  struct Case {
    const char* name;
    int manual;
    bool missingFolder;
    int* breaks;  // the spool file that fails after page 1, or null
    std::vector<int> expected;
    const char* error;
  };
  const std::string lostCopies = "ERROR: Only 1 of 2 collated copies was printed: the spool file failed (";
  const std::string lostBacks =
      "ERROR: The back sides of the manual duplex job were not printed: the spool file failed (";
  const Case cases[] = {
      {"collate file cannot be created", 0, true, nullptr, Pages({1, 2, 3}), "No such file or directory"},
      {"collate file fails after page 1", 0, false, &gCollateFile, Pages({1, 2, 3}), "Bad file descriptor"},
      {"duplex files cannot be created", 1, true, nullptr, Pages({1, 3}), "No such file or directory"},
      // The fronts are sent once, so are the backs: one whole duplex copy.
      {"odd-page file fails after page 1", 1, false, &gManualDuplexOddFile, Pages({1, 3, 2}),
       "Bad file descriptor"},
      {"even-page file fails after page 1", 1, false, &gManualDuplexEvenFile, Pages({1, 3, 1, 3}),
       "Bad file descriptor"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    JobSettings settings;
    settings.pages = 3;
    settings.copies = 2;
    settings.collate = 1;
    settings.manualDuplex = c.manual;
    settings.spoolFolderMissing = c.missingFolder;
    settings.spoolThatBreaks = c.breaks;
    settings.spoolBreaksAfterPage = c.breaks != nullptr ? 1 : 0;
    JobRun run = RunJob(settings);
    EXPECT_EQ(PagesSent(run.out), c.expected);
    EXPECT_EQ(run.out.rfind("<doc>", 0), 0u);
    EXPECT_EQ(run.out.size() - run.out.rfind("</doc>"), 6u) << "the document end comes last";
    EXPECT_EQ(run.endStatus, 0);
    EXPECT_EQ(run.outputError, 0);
    const bool backsLost = c.manual == 1 && (c.missingFolder || c.breaks == &gManualDuplexEvenFile);
    const bool copiesLost = !backsLost || c.breaks == &gManualDuplexOddFile;
    std::string expectedLine = (copiesLost && !backsLost ? lostCopies : lostBacks) + c.error + ")\n";
    EXPECT_NE(run.err.find(expectedLine), std::string::npos) << run.err;
    const bool turnOver = run.err.find("INFO:Turn the stack over") != std::string::npos;
    EXPECT_EQ(turnOver, c.manual == 1 && !backsLost) << "the turn-over is asked for only when back sides follow";
    EXPECT_TRUE(run.spoolFilesLeft.empty());
  }
}
