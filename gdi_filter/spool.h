// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Collated copies and manual duplex: page records are spooled while pages are produced and
// replayed at the end of the job.
#pragma once

#include <cups/raster.h>

#include "prnt.h"

// The job values that the spooling steps read; the page loop owns and fills it.
typedef struct _SPOOL_JOB {
  unsigned int iCopies;         // the first page's NumCopies
  int collate;                  // COLLATE
  int manualDuplex;             // MANUALDUPLEX
  int autoDuplex;               // AUTODUPLEX
  int reverse;                  // REVERSE
  int platform;
  const char* duplexMsg;        // the PPD's "MDuplex" text shown before the back sides
  cups_page_header2_t lastHeader;             // header of the last page (for blank pages)
  PGDI_START_PAGE_PARAM startPageParam;       // start-of-page record of the last page
  char collateTmpFile[255];
  char manualOddTmpFile[255];
  char manualEvenTmpFile[255];
} SPOOL_JOB, *PSPOOL_JOB;

// First page, right after the document start: creates the spool files the job needs. A file that
// cannot be created is marked broken (the job prints on without it); always 1.
int SpoolSetUp(PSPOOL_JOB job, const cups_page_header2_t* header);
// Every page, before its start-of-page record: chooses where the page's records go.
void SpoolRoutePage(PSPOOL_JOB job);
// After the last page, before the document end: blank back side, collate and duplex replays (none
// after a cancel). Returns 0 when something could not be printed (the reason of a lost copy or
// back side is logged; a failed printer output is the caller's to report): the job then fails.
int SpoolEndOfJob(PSPOOL_JOB job);
// Clean-up: closes and removes every spool file of the job that is still there.
void SpoolRemove(PSPOOL_JOB job);
