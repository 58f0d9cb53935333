// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Job-wide state of rastertoVarnel and the output sink through which every printer byte passes.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstddef>
#include <vector>

// ---- Job globals (owned by the page loop, shared with the sink, spooling and signal handlers) ----
// Canceled and g_ismiddlepage are also touched by signal handlers and, in a program with threads,
// by other threads: lock-free atomics are safe for both.
extern int g_page;                            // pages started so far
extern std::atomic<int> Canceled;             // set when the job is cancelled (PrintJobCancel)
extern std::atomic<int> g_ismiddlepage;       // 1 while printer data is produced: no keep-alive then
extern int gSendDataToDevice;                 // 1: the sink writes to the printer output
extern int gCollateFile;                      // collate spool file descriptor, 0 = none
extern int gManualDuplexOddFile;              // odd-page spool file descriptor, 0 = none
extern int gManualDuplexEvenFile;             // even-page spool file descriptor, 0 = none
extern std::vector<long> gCacheSize;          // entry k: bytes of page 2(k+1) in the even-page file
extern char gPPDFile[1024];                   // the PPD's ModelName
extern char prntLastError[1024];              // error chain, newest message first

static_assert(std::atomic<int>::is_always_lock_free, "the job flags must be safe in a signal handler");

// ---- Printer output ----
// Where the printer bytes go. write takes up to count bytes and returns how many it took (>= 0),
// or -1 with errno set. flush, which may be null when the target keeps nothing back, pushes out
// what the target buffers and returns 0, or -1 with errno set.
typedef struct _PRINTER_OUTPUT {
  ssize_t (*write)(void* context, const void* data, size_t count);
  int (*flush)(void* context);
  void* context;
} PRINTER_OUTPUT;

// Chooses the printer output (the record is copied); nullptr chooses standard output, descriptor
// 1, which is also the output before any call.
void SetPrinterOutput(const PRINTER_OUTPUT* output);
// Pushes out what the printer output buffers. The page loop calls it at its quiet points, where a
// keep-alive filler may follow. 1 on success, 0 when the flush failed (or the output had failed).
int FlushPrinterOutput(void);

// The printer output fails for good at its first write or flush that fails for a reason other
// than a passing one (an interrupted call, or a full non-blocking pipe: those are tried again a
// bounded number of times; a short write is continued). From then on nothing more is written to
// it and every write reports failure, so the job can stop and say why.
int PrinterOutputFailed(void);  // 1 once the printer output has failed for good
int PrinterOutputError(void);   // errno of that failure (0 while it has not failed)
// Clears the failure memory of the printer output and of the spool files (a new job starts).
void ResetOutputFailures(void);

// The keep-alive filler: the two bytes 00 00 on the printer output, but only while g_ismiddlepage
// is 0 and the output has not failed. Safe in a signal handler. 1 when the pair was written.
int SendKeepAliveFiller(void);

// ---- Spool files ----
// A spool file whose write fails is broken: nothing more is written to it (its pages can no
// longer be replayed whole), the blocks meant for it are dropped without failing the write, and
// the printer output carries on unchanged. The spooling steps read the failure at the end of the
// job and say what could not be printed.
enum SpoolFileKind { kSpoolCollate = 0, kSpoolOddPages = 1, kSpoolEvenPages = 2 };
// errno of the first failure of that spool file (creation or write), 0 when it has none.
int SpoolFileError(int kind);
// Marks a spool file as broken (it could not be created, or could not be read back).
void MarkSpoolFileBroken(int kind, int error);

// ---- Output sink ----
// Writes a block to the printer output (when gSendDataToDevice is 1) and, for cached blocks, to
// the open spool files. Returns 1 when the block went where it was meant to go: the printer output
// accepted it (when it was a destination) and at least one destination was enabled; a broken
// spool file counts as a destination that drops the block. 0 otherwise (also for 0 bytes).
int SendDataToFile(void* pData, int count, int bCache);
// Sends the 00 00 filler that separates short records (cached). 1 on success.
int Insert00();
// Two's complement of the 8-bit sum of the first len bytes (0 for len <= 0).
unsigned char CalcChecksum(unsigned char* pSrc, int len);
void SwapUINT(unsigned int* a, unsigned int* b);
void SwapUSHORT(unsigned short* a, unsigned short* b);

// ---- Error chain ----
// Puts message in front of prntLastError. When the chain no longer fits, the newest messages are
// kept and the oldest end is cut; prntLastError always stays NUL-terminated.
void PrependLastError(const char* message);
// Replaces the whole chain by message.
void SetLastError(const char* message);
