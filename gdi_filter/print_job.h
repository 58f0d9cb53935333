// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// The print core: turns pages of 8-bit grey raster lines (255 = white) into the printer stream of
// the C, Z and M platforms: document and page records, back-side and long-edge turns, halftone,
// JBIG images, collated copies, blank back sides and manual duplex. It does not know where its
// pages come from (a CUPS raster stream, a Printer Application) nor where its bytes go: every byte
// passes through the output sink, whose target the caller chooses with SetPrinterOutput (common.h).
//
// One job runs at a time in a process: a job lives in the process globals of common.h (g_page,
// Canceled, g_ismiddlepage, gSendDataToDevice, gCollateFile, gManualDuplexOddFile,
// gManualDuplexEvenFile, gCacheSize, gPPDFile, prntLastError), so a program that prints several
// jobs runs them one after the other. Before the first page the caller puts the printer's model
// name into gPPDFile (some document records depend on it).
//
// The calls of one job:
//
//   PPRINT_JOB job = PrintJobBegin();
//   for every page:
//     if (!PrintPageBegin(job, &header, &settings)) break;
//     for every raster line, top to bottom, until Canceled is set:
//       either  unsigned char* line = PrintPageLine(job);   fill header.cupsBytesPerLine bytes,
//               PrintPageLineDone(job);
//       or      PrintPageWriteLine(job, data, length);
//     if (!PrintPageEnd(job)) break;
//   int ok = PrintJobEnd(job);
//   PrintJobRelease(job);
//
// Lines that a page does not get are white. Log lines go to standard error in the CUPS form.
//
// The calls are made from one thread, which alone writes to the printer output. The job
// compresses its images on worker threads of its own (VARNEL_THREADS, compression_workers.h),
// which block every signal; so a page's records may reach the printer output during a later
// page's PrintPageLineDone or PrintPageEnd, and the last pages during PrintJobEnd.
#pragma once

#include <cups/raster.h>

#include <cstddef>

#include "paper_tables.h"
#include "print_options.h"
#include "prnt.h"

// What the caller works out for each page from the printer's description and the job's options.
// The core reads it during PrintPageBegin and copies what it keeps.
typedef struct _PAGE_SETTINGS {
  int platform;                                    // PLATFORM_C, _Z, _M; PLATFORM_UNKNOWN sends nothing
  PAPER_SIZE_INFO* paperSizeArray;                 // the platform's paper table, or null
  PRINT_FUNC_INFO prntFuncInfo[PRINT_FUNC_COUNT];  // the thirteen print functions of the page
  int iSupportManDuplex;  // 1: the printer prints automatic duplex as manual duplex (Z)
  int mDuplexType;        // 1: that manual duplex turns the pages over the short edge
  const char* duplexMsg;  // text shown when the stack must be turned over ("MDuplex"), or null
  float customMargins[4];  // hardware margins of a size no paper row describes: left, bottom,
                           // right, top, in points
  const char* jobId;       // job number as text (document record, first page)
  const char* jobName;     // job title (document record, first page)
} PAGE_SETTINGS, *PPAGE_SETTINGS;

// Automatic duplex is printed as manual duplex on Z printers that only offer that: a settings
// with AUTODUPLEX set becomes MANUALDUPLEX (mDuplexType 1 for the short edge). Callers apply it
// after filling the print functions of a page.
void ApplyManualDuplexConversion(PAGE_SETTINGS* settings);

typedef struct _PRINT_JOB PRINT_JOB, *PPRINT_JOB;

// The C and Z printers drop a link that stays silent for long while a page is computed. For their
// jobs the caller sends the two bytes 00 00 to the printer every kKeepAliveIntervalMs from the
// first page on, but only while g_ismiddlepage is 0, and never while a write of the printer output
// is in progress (so that the filler never falls inside a record).
const long kKeepAliveIntervalMs = 10000;
int PrintJobNeedsKeepAlive(int platform);

// Starts a job: resets the job globals (except gPPDFile). nullptr when memory is short.
PPRINT_JOB PrintJobBegin(void);

// Starts a page: on the first page the document header and the spool files of copies and manual
// duplex, then the page's geometry and start-of-page records. header describes the raster (8-bit
// grey, one byte per pixel, checked with CheckPageHeader) of a page no larger than the printer
// takes (checked with CheckPageSize: the core allocates the page the header describes). The page's
// memory is had first: a page that cannot be had is not started at all. 1 when the page takes
// lines; 0 when the job cannot go on (the reason is logged, or the printer output has failed): the
// caller then goes to PrintJobEnd.
int PrintPageBegin(PPRINT_JOB job, const cups_page_header2_t* header, const PAGE_SETTINGS* settings);

// Room for the next raster line of the page, cupsBytesPerLine bytes: the caller fills it and then
// calls PrintPageLineDone. A line that cannot be had is simply not done. nullptr when no page is
// open, the page has all its lines, or the job was cancelled.
unsigned char* PrintPageLine(PPRINT_JOB job);
void PrintPageLineDone(PPRINT_JOB job);
// The same for a caller that is handed a line: copies length bytes (a shorter line is white to the
// right, a longer one is cut). 1 when the line was taken.
int PrintPageWriteLine(PPRINT_JOB job, const unsigned char* line, size_t length);

// Finishes the page: back-side and long-edge turns, halftone, compression, image and end-of-page
// records. A page cut short by a cancel is finished with the lines it has, on every platform. 1
// when the job goes on with a next page; 0 when it cannot (cancelled, or the printer output
// failed): the caller then goes to PrintJobEnd.
int PrintPageEnd(PPRINT_JOB job);

// Ends the job: a page still open is finished, then the blank back side of an odd automatic
// duplex job, the replays of collated copies and manual duplex (not after a cancel) and the end of
// the document. Nothing is sent when no page was started or the printer output has failed. 1 when
// the job reached the printer whole; 0 when it failed: a page was refused or could not be had, an
// image could not be compressed, copies or back sides were lost to a spool file (each reason is
// logged), or the printer output failed (PrinterOutputFailed and PrinterOutputError tell; the
// caller reports it).
int PrintJobEnd(PPRINT_JOB job);

// Closes and removes the job's spool files and releases its memory. nullptr is allowed.
void PrintJobRelease(PPRINT_JOB job);

// Cancels the running job: from here on no further page is started, a page being read takes no
// more lines, and the end of the job sends no replays. Safe in a signal handler and from another
// thread (it sets Canceled, which the core polls).
void PrintJobCancel(void);
