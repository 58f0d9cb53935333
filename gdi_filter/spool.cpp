// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Collated copies and manual duplex: the page records are spooled while the pages are produced
// and replayed at the end of the job.
#include "spool.h"

#include <cups/cups.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "common.h"
#include "cupsdll.h"
#include "page_transform.h"

namespace {

constexpr size_t kCollateChunk = 32768;
constexpr size_t kOddPageChunk = 4096;
constexpr size_t kEvenPageChunk = 32768;
// A chunk refused for a passing reason (interrupted or a full non-blocking pipe) is offered again
// this often, with a pause in between, before standard output counts as failed for good.
constexpr int kSendAttempts = 500;
constexpr useconds_t kRetryPauseUs = 10000;

// Offsets at which each page starts in the collate and odd-page files, so that a cancel during a
// replay stops at a page boundary instead of cutting a page record in two.
std::vector<off_t> gCollatePageStarts;
std::vector<off_t> gOddPageStarts;

// A spool file whose name is removed right away: its data lives as long as the descriptor, so
// the file cannot outlive the job, whatever way the process ends. Returns the descriptor or -1.
int CreateSpoolFile(char* name, size_t nameSize) {
  // The bound pointer when the CUPS library was bound for the job, else the linked function.
  int (*tempFd)(char*, int) = pfcupsTempFd != nullptr ? pfcupsTempFd : cupsTempFd;
  int fd = tempFd(name, static_cast<int>(nameSize));
  if (fd < 0) return -1;
  unlink(name);
  if (fd == 0) {  // 0 means "no spool file" to the output sink
    int moved = fcntl(fd, F_DUPFD_CLOEXEC, 1);
    close(fd);
    fd = moved;
  }
  return fd;
}

// The file's name went at its creation; closing the descriptor releases its data.
void CloseSpoolFile(int* fd) {
  if (*fd != 0) close(*fd);
  *fd = 0;
}

off_t CurrentOffset(int fd) { return lseek(fd, 0, SEEK_CUR); }

// Records where the page that is about to be produced starts in the spool files it will reach.
void NotePageStart() {
  if (gCollateFile != 0) gCollatePageStarts.push_back(CurrentOffset(gCollateFile));
  if (gManualDuplexOddFile != 0 && g_page % 2 == 1) gOddPageStarts.push_back(CurrentOffset(gManualDuplexOddFile));
}

bool IsPassingOutputError(int error) { return error == EINTR || error == EAGAIN || error == EWOULDBLOCK; }

// Hands one replayed chunk to the sink (not cached again). Returns false when the printer output
// has failed for good; the reason is then in the CUPS log.
bool SendReplayChunk(char* data, size_t count) {
  int error = 0;
  for (int attempt = 0; attempt < kSendAttempts; ++attempt) {
    errno = 0;
    // An output that buffers may only fail when it pushes the chunk out.
    if (SendDataToFile(data, static_cast<int>(count), 0) && FlushPrinterOutput()) return true;
    error = errno;
    if (!IsPassingOutputError(error)) break;
    usleep(kRetryPauseUs);
  }
  fprintf(stderr, "ERROR: Unable to send the spooled pages to the printer: %s\n",
          error != 0 ? strerror(error) : "the output refused the data");
  return false;
}

// The first page start at or after offset, or end when there is none.
off_t NextPageStart(const std::vector<off_t>* pageStarts, off_t offset, off_t end) {
  if (pageStarts == nullptr) return end;
  for (off_t start : *pageStarts) {
    if (start >= offset) return std::min(start, end);
  }
  return end;
}

// Sends bytes [begin, end) of a spool file to the printer output in chunks. With pageStarts the
// replay honours a cancel: it goes on to the end of the page being sent and stops there. A read
// error ends the replay early. Returns false when the printer output failed for good.
bool ReplayRange(int fd, off_t begin, off_t end, size_t chunkSize, const std::vector<off_t>* pageStarts) {
  std::vector<char> chunk(chunkSize);
  off_t offset = begin;
  off_t stop = end;
  bool cancelNoted = false;
  while (offset < stop) {
    if (pageStarts != nullptr && Canceled && !cancelNoted) {
      cancelNoted = true;
      stop = NextPageStart(pageStarts, offset, end);
      if (offset >= stop) break;
    }
    size_t wanted = static_cast<size_t>(std::min<off_t>(static_cast<off_t>(chunkSize), stop - offset));
    ssize_t got = pread(fd, chunk.data(), wanted, offset);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    if (!SendReplayChunk(chunk.data(), static_cast<size_t>(got))) return false;
    offset += got;
  }
  FlushPrinterOutput();
  return true;
}

off_t FileEnd(int fd) {
  struct stat info;
  return fstat(fd, &info) == 0 ? info.st_size : 0;
}

// One pass over a whole spool file (a further copy).
bool ReplayWholeFile(int fd, size_t chunkSize, const std::vector<off_t>& pageStarts) {
  return ReplayRange(fd, 0, FileEnd(fd), chunkSize, &pageStarts);
}

// The even pages from the last to the first; entry k of gCacheSize is the record of page 2(k+1),
// which starts at the sum of the entries before it.
bool ReplayEvenPagesBackwards(int evenPages) {
  std::vector<off_t> starts(static_cast<size_t>(evenPages) + 1, 0);
  for (int k = 0; k < evenPages; ++k) {
    long size = static_cast<size_t>(k) < gCacheSize.size() ? gCacheSize[static_cast<size_t>(k)] : 0;
    starts[static_cast<size_t>(k) + 1] = starts[static_cast<size_t>(k)] + size;
  }
  for (int k = evenPages - 1; k >= 0; --k) {
    off_t begin = starts[static_cast<size_t>(k)];
    off_t end = starts[static_cast<size_t>(k) + 1];
    if (!ReplayRange(gManualDuplexEvenFile, begin, end, kEvenPageChunk, nullptr)) return false;
  }
  return true;
}

void InsertBlankBackSide(PSPOOL_JOB job) {
  NotePageStart();
  InsertBlankPage(job->lastHeader, job->startPageParam, job->platform);
}

bool ReplayCollatedCopies(PSPOOL_JOB job) {
  for (unsigned int copy = 1; copy < job->iCopies && !Canceled; ++copy) {
    if (!ReplayWholeFile(gCollateFile, kCollateChunk, gCollatePageStarts)) return false;
  }
  CloseSpoolFile(&gCollateFile);
  return true;
}

// One pass of back sides: the even pages last to first, with a blank back side for the last odd
// page first (REVERSE 0) or last (REVERSE 1).
bool SendBackSides(PSPOOL_JOB job) {
  const bool blankNeeded = g_page % 2 == 1;
  if (blankNeeded && job->reverse == 0) InsertBlankPage(job->lastHeader, job->startPageParam, job->platform);
  if (!ReplayEvenPagesBackwards(g_page / 2)) return false;
  if (blankNeeded && job->reverse == 1) InsertBlankPage(job->lastHeader, job->startPageParam, job->platform);
  FlushPrinterOutput();
  return true;
}

bool ReplayManualDuplex(PSPOOL_JOB job) {
  fprintf(stderr, "INFO:%s\n", job->duplexMsg != nullptr ? job->duplexMsg : "");
  gSendDataToDevice = 1;
  unsigned int backSidePasses = 1;
  if (job->collate == 1) {
    for (unsigned int copy = 1; copy < job->iCopies && !Canceled; ++copy) {
      if (!ReplayWholeFile(gManualDuplexOddFile, kOddPageChunk, gOddPageStarts)) return false;
    }
    backSidePasses = job->iCopies;
  }
  CloseSpoolFile(&gManualDuplexOddFile);
  if (!SendManualDuplexCmd(job->platform)) {
    ReportChainedFailure("SpoolEndOfJob() :: Send manual duplex command Fail ! \n");
  }
  for (unsigned int pass = 0; pass < backSidePasses; ++pass) {
    if (!SendBackSides(job)) return false;
  }
  CloseSpoolFile(&gManualDuplexEvenFile);
  return true;
}

}  // namespace

int SpoolSetUp(PSPOOL_JOB job, const cups_page_header2_t* header) {
  gCollatePageStarts.clear();
  gOddPageStarts.clear();
  gCacheSize.clear();
  gCollateFile = 0;
  gManualDuplexOddFile = 0;
  gManualDuplexEvenFile = 0;

  if (job->collate == 1 && header->NumCopies > 1) {
    int fd = CreateSpoolFile(job->collateTmpFile, sizeof job->collateTmpFile);
    if (fd < 0) {
      fprintf(stderr, "ERROR: %s file open fail\n", job->collateTmpFile);
      return 0;
    }
    gCollateFile = fd;
  }
  if (job->manualDuplex == 1) {
    gSendDataToDevice = 0;
    int odd = CreateSpoolFile(job->manualOddTmpFile, sizeof job->manualOddTmpFile);
    if (odd < 0) {
      fprintf(stderr, "ERROR: %s file open fail\n", job->manualOddTmpFile);
      SpoolRemove(job);
      return 0;
    }
    gManualDuplexOddFile = odd;
    int even = CreateSpoolFile(job->manualEvenTmpFile, sizeof job->manualEvenTmpFile);
    if (even < 0) {
      fprintf(stderr, "ERROR: %s file open fail\n", job->manualEvenTmpFile);
      SpoolRemove(job);
      return 0;
    }
    gManualDuplexEvenFile = even;
  }
  return 1;
}

void SpoolRoutePage(PSPOOL_JOB job) {
  if (job->manualDuplex == 1) gSendDataToDevice = g_page % 2 == 1 ? 1 : 0;
  NotePageStart();
}

int SpoolEndOfJob(PSPOOL_JOB job) {
  if (job->autoDuplex != 0 && g_page % 2 == 1) InsertBlankBackSide(job);
  g_ismiddlepage = 1;

  bool outputAlive = true;
  if (!Canceled) {
    if (job->collate == 1 && job->iCopies > 1 && job->manualDuplex != 1 && gCollateFile != 0) {
      outputAlive = ReplayCollatedCopies(job);
    }
    FlushPrinterOutput();
    if (outputAlive && job->manualDuplex == 1) outputAlive = ReplayManualDuplex(job);
  }
  // The end of the document must reach the printer, also when the job stopped on an even page
  // of a manual-duplex job, whose records were going to the spool file only.
  gSendDataToDevice = 1;
  SpoolRemove(job);
  return outputAlive ? 1 : 0;
}

void SpoolRemove(PSPOOL_JOB) {
  CloseSpoolFile(&gCollateFile);
  CloseSpoolFile(&gManualDuplexOddFile);
  CloseSpoolFile(&gManualDuplexEvenFile);
  gCollatePageStarts.clear();
  gOddPageStarts.clear();
}
