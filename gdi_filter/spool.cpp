// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Collated copies and manual duplex: the page records are spooled while the pages are produced
// and replayed at the end of the job.
//
// A spool file that cannot be created or written never touches the printer stream: the pages go
// to the printer as they would have, the document is ended, and at the end the job says which
// copies or back sides it could not print (and fails). A replay sends whole pages only, so a
// cancel, a read error or a failing printer output never leaves a page cut in two.
#include "spool.h"

#include <cups/cups.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "common.h"
#include "cupsdll.h"
#include "page_transform.h"

namespace {

// Offsets at which each page starts in the collate and odd-page files, so that a replay can send
// page by page.
std::vector<off_t> gCollatePageStarts;
std::vector<off_t> gOddPageStarts;

// A spool file whose name is removed right away: its data lives as long as the descriptor, so
// the file cannot outlive the job, whatever way the process ends. Returns the descriptor, or -1
// with errno set.
int CreateSpoolFile(char* name, size_t nameSize) {
  // The bound pointer when the CUPS library was bound for the job, else the linked function.
  int (*tempFd)(char*, int) = pfcupsTempFd != nullptr ? pfcupsTempFd : cupsTempFd;
  errno = 0;
  int fd = tempFd(name, static_cast<int>(nameSize));
  if (fd < 0) {
    if (errno == 0) errno = EIO;
    return -1;
  }
  unlink(name);
  if (fd == 0) {  // 0 means "no spool file" to the output sink
    int moved = fcntl(fd, F_DUPFD_CLOEXEC, 1);
    int error = errno;
    close(fd);
    errno = error;
    fd = moved;
  }
  return fd;
}

// The file's name went at its creation; closing the descriptor releases its data.
void CloseSpoolFile(int* fd) {
  if (*fd != 0) close(*fd);
  *fd = 0;
}

// Creates the spool file of one kind; one that cannot be made is marked broken and the job goes
// on without it.
void OpenSpoolFile(int kind, int* fd, char* name, size_t nameSize) {
  int created = CreateSpoolFile(name, nameSize);
  if (created < 0) {
    fprintf(stderr, "DEBUG: Spool file %s cannot be created: %s\n", name[0] != '\0' ? name : "(no name)",
            strerror(errno));
    MarkSpoolFileBroken(kind, errno);
    return;
  }
  *fd = created;
}

off_t CurrentOffset(int fd) { return lseek(fd, 0, SEEK_CUR); }

// Records where the page that is about to be produced starts in the spool files it will reach.
void NotePageStart() {
  if (gCollateFile != 0) gCollatePageStarts.push_back(CurrentOffset(gCollateFile));
  if (gManualDuplexOddFile != 0 && g_page % 2 == 1) gOddPageStarts.push_back(CurrentOffset(gManualDuplexOddFile));
}

off_t FileEnd(int fd) {
  struct stat info;
  return fstat(fd, &info) == 0 ? info.st_size : 0;
}

enum class Replay { Done, Canceled, SpoolFailed, OutputFailed };

// Reads bytes [begin, end) of a spool file whole. false (errno set) when they cannot be had.
bool ReadWhole(int fd, off_t begin, off_t end, std::vector<unsigned char>* bytes) {
  try {
    bytes->resize(static_cast<size_t>(end - begin));
  } catch (const std::bad_alloc&) {
    errno = ENOMEM;
    return false;
  }
  size_t done = 0;
  while (done < bytes->size()) {
    ssize_t got = pread(fd, bytes->data() + done, bytes->size() - done, begin + static_cast<off_t>(done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      if (got == 0) errno = EIO;  // the file is shorter than what was spooled into it
      return false;
    }
    done += static_cast<size_t>(got);
  }
  return true;
}

// Sends the pages [begin, end) of a spool file, one whole page at a time (not cached again):
// pages holds the start offset of every page. A cancel stops the replay before the next page.
Replay ReplayPages(int kind, int fd, const std::vector<off_t>& pages, off_t begin, off_t end) {
  std::vector<unsigned char> page;
  for (size_t i = 0; i < pages.size(); ++i) {
    const off_t from = std::max(pages[i], begin);
    const off_t to = std::min(i + 1 < pages.size() ? pages[i + 1] : end, end);
    if (from >= to) continue;
    if (Canceled) return Replay::Canceled;
    if (!ReadWhole(fd, from, to, &page)) {
      MarkSpoolFileBroken(kind, errno);
      return Replay::SpoolFailed;
    }
    if (!SendDataToFile(page.data(), static_cast<int>(page.size()), 0) || !FlushPrinterOutput())
      return Replay::OutputFailed;
  }
  return Replay::Done;
}

// One pass over a whole spool file (a further copy).
Replay ReplayWholeFile(int kind, int fd, const std::vector<off_t>& pages) {
  return ReplayPages(kind, fd, pages, 0, FileEnd(fd));
}

// The even pages from the last to the first; entry k of gCacheSize is the record of page 2(k+1),
// which starts at the sum of the entries before it.
Replay ReplayEvenPagesBackwards(int evenPages) {
  std::vector<off_t> starts(static_cast<size_t>(evenPages) + 1, 0);
  for (int k = 0; k < evenPages; ++k) {
    long size = static_cast<size_t>(k) < gCacheSize.size() ? gCacheSize[static_cast<size_t>(k)] : 0;
    starts[static_cast<size_t>(k) + 1] = starts[static_cast<size_t>(k)] + size;
  }
  for (int k = evenPages - 1; k >= 0; --k) {
    const std::vector<off_t> page = {starts[static_cast<size_t>(k)]};
    Replay r = ReplayPages(kSpoolEvenPages, gManualDuplexEvenFile, page, starts[static_cast<size_t>(k)],
                           starts[static_cast<size_t>(k) + 1]);
    if (r != Replay::Done) return r;
  }
  return Replay::Done;
}

void InsertBlankBackSide(PSPOOL_JOB job) {
  NotePageStart();
  InsertBlankPage(job->lastHeader, job->startPageParam, job->platform);
}

void ReportLostCopies(unsigned int copies, int kind) {
  fprintf(stderr, "ERROR: Only 1 of %u collated copies was printed: the spool file failed (%s)\n", copies,
          strerror(SpoolFileError(kind)));
}

void ReportLostBackSides() {
  fprintf(stderr, "ERROR: The back sides of the manual duplex job were not printed: the spool file failed (%s)\n",
          strerror(SpoolFileError(kSpoolEvenPages)));
}

// Further copies from the collate file. false when something could not be printed.
bool ReplayCollatedCopies(PSPOOL_JOB job) {
  bool whole = true;
  if (SpoolFileError(kSpoolCollate) != 0) {
    ReportLostCopies(job->iCopies, kSpoolCollate);
    whole = false;
  } else {
    for (unsigned int copy = 1; copy < job->iCopies && !Canceled; ++copy) {
      Replay r = ReplayWholeFile(kSpoolCollate, gCollateFile, gCollatePageStarts);
      if (r == Replay::SpoolFailed) {
        fprintf(stderr, "ERROR: Only %u of %u collated copies was printed: the spool file failed (%s)\n", copy,
                job->iCopies, strerror(SpoolFileError(kSpoolCollate)));
      }
      if (r == Replay::OutputFailed || r == Replay::SpoolFailed) {
        whole = false;
        break;
      }
    }
  }
  CloseSpoolFile(&gCollateFile);
  return whole;
}

// One pass of back sides: the even pages last to first, with a blank back side for the last odd
// page first (REVERSE 0) or last (REVERSE 1).
Replay SendBackSides(PSPOOL_JOB job) {
  const bool blankNeeded = g_page % 2 == 1;
  if (blankNeeded && job->reverse == 0) InsertBlankPage(job->lastHeader, job->startPageParam, job->platform);
  Replay r = ReplayEvenPagesBackwards(g_page / 2);
  if (r != Replay::Done) return r;
  if (blankNeeded && job->reverse == 1) InsertBlankPage(job->lastHeader, job->startPageParam, job->platform);
  FlushPrinterOutput();
  return PrinterOutputFailed() ? Replay::OutputFailed : Replay::Done;
}

// Further copies of the front sides, then the turn-over and the back sides. false when
// something could not be printed.
bool ReplayManualDuplex(PSPOOL_JOB job) {
  bool whole = true;
  gSendDataToDevice = 1;
  unsigned int backSidePasses = 1;
  if (job->collate == 1 && job->iCopies > 1) {
    if (SpoolFileError(kSpoolOddPages) != 0) {
      // Without further fronts one whole duplex copy is printed.
      ReportLostCopies(job->iCopies, kSpoolOddPages);
      whole = false;
    } else {
      unsigned int copy = 1;
      for (; copy < job->iCopies && !Canceled; ++copy) {
        Replay r = ReplayWholeFile(kSpoolOddPages, gManualDuplexOddFile, gOddPageStarts);
        if (r == Replay::OutputFailed) return false;
        if (r == Replay::SpoolFailed) {
          fprintf(stderr, "ERROR: Only %u of %u collated copies was printed: the spool file failed (%s)\n", copy,
                  job->iCopies, strerror(SpoolFileError(kSpoolOddPages)));
          whole = false;
          break;
        }
      }
      backSidePasses = copy;  // as many back sides as fronts went out
    }
  }
  CloseSpoolFile(&gManualDuplexOddFile);
  if (Canceled) return whole;
  if (SpoolFileError(kSpoolEvenPages) != 0) {
    ReportLostBackSides();
    CloseSpoolFile(&gManualDuplexEvenFile);
    return false;
  }
  fprintf(stderr, "INFO:%s\n", job->duplexMsg != nullptr ? job->duplexMsg : "");
  if (!SendManualDuplexCmd(job->platform)) {
    ReportChainedFailure("SpoolEndOfJob() :: Send manual duplex command Fail ! \n");
  }
  for (unsigned int pass = 0; pass < backSidePasses; ++pass) {
    Replay r = SendBackSides(job);
    if (r == Replay::OutputFailed) return false;
    if (r == Replay::Canceled) break;
    if (r == Replay::SpoolFailed) {
      ReportLostBackSides();
      whole = false;
      break;
    }
  }
  CloseSpoolFile(&gManualDuplexEvenFile);
  return whole;
}

}  // namespace

int SpoolSetUp(PSPOOL_JOB job, const cups_page_header2_t* header) {
  gCollatePageStarts.clear();
  gOddPageStarts.clear();
  gCacheSize.clear();
  gCollateFile = 0;
  gManualDuplexOddFile = 0;
  gManualDuplexEvenFile = 0;

  // A manual-duplex job makes its further copies from its odd-page file: it needs no collate file.
  if (job->collate == 1 && header->NumCopies > 1 && job->manualDuplex != 1) {
    OpenSpoolFile(kSpoolCollate, &gCollateFile, job->collateTmpFile, sizeof job->collateTmpFile);
  }
  if (job->manualDuplex == 1) {
    gSendDataToDevice = 0;
    // The front sides are only replayed for further collated copies.
    if (job->collate == 1 && header->NumCopies > 1)
      OpenSpoolFile(kSpoolOddPages, &gManualDuplexOddFile, job->manualOddTmpFile, sizeof job->manualOddTmpFile);
    OpenSpoolFile(kSpoolEvenPages, &gManualDuplexEvenFile, job->manualEvenTmpFile, sizeof job->manualEvenTmpFile);
  }
  return 1;
}

void SpoolRoutePage(PSPOOL_JOB job) {
  if (job->manualDuplex == 1) gSendDataToDevice = g_page % 2 == 1 ? 1 : 0;
  NotePageStart();
}

int SpoolEndOfJob(PSPOOL_JOB job) {
  // An even page of a manual-duplex job went to the spool file only: from here on everything
  // goes to the printer.
  gSendDataToDevice = 1;
  if (PrinterOutputFailed()) {
    SpoolRemove(job);
    return 0;
  }
  if (job->autoDuplex != 0 && g_page % 2 == 1) InsertBlankBackSide(job);
  g_ismiddlepage = 1;

  bool whole = true;
  if (!Canceled && !PrinterOutputFailed()) {
    if (job->collate == 1 && job->iCopies > 1 && job->manualDuplex != 1) whole = ReplayCollatedCopies(job);
    FlushPrinterOutput();
    if (job->manualDuplex == 1 && !PrinterOutputFailed()) whole = ReplayManualDuplex(job) && whole;
  }
  SpoolRemove(job);
  return whole && !PrinterOutputFailed() ? 1 : 0;
}

void SpoolRemove(PSPOOL_JOB) {
  CloseSpoolFile(&gCollateFile);
  CloseSpoolFile(&gManualDuplexOddFile);
  CloseSpoolFile(&gManualDuplexEvenFile);
  gCollatePageStarts.clear();
  gOddPageStarts.clear();
}
