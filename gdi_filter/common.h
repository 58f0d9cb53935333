// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Job-wide state of rastertoVarnel and the output sink through which every printer byte passes.
#pragma once

#include <csignal>
#include <cstddef>
#include <vector>

// ---- Job globals (owned by the page loop, shared with the sink, spooling and signal handlers) ----
extern int g_page;                            // pages started so far
extern volatile sig_atomic_t Canceled;        // set by CancelJob on SIGTERM
extern volatile sig_atomic_t g_ismiddlepage;  // 1 while printer data is produced: no keep-alive then
extern int gSendDataToDevice;                 // 1: the sink writes to standard output
extern int gCollateFile;                      // collate spool file descriptor, 0 = none
extern int gManualDuplexOddFile;              // odd-page spool file descriptor, 0 = none
extern int gManualDuplexEvenFile;             // even-page spool file descriptor, 0 = none
extern std::vector<long> gCacheSize;          // entry k: bytes of page 2(k+1) in the even-page file
extern char gPPDFile[1024];                   // the PPD's ModelName
extern char prntLastError[1024];              // error chain, newest message first

// ---- Output sink ----
// Writes a block to standard output (when gSendDataToDevice is 1) and, for cached blocks, to the
// open spool files. Returns 1 when the last destination written accepted the block, else 0.
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
