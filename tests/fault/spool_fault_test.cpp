// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// The spool files of collated copies and manual duplex fail: TMPDIR names a folder that does not
// exist (cupsTempFd fails), TMPDIR is a tmpfs of 64 KiB that fills during the job, a spool write
// fails with EIO. The printer stream must go on unchanged and stay well formed; the loss is
// reported at the end.
#include <algorithm>
#include <memory>

#include "fault_harness.h"

namespace fault {
namespace {

enum class SpoolFault { MissingFolder, FullTmpfs, WriteEio };

const char* Reason(SpoolFault fault) {
  switch (fault) {
    case SpoolFault::MissingFolder: return "No such file or directory";
    case SpoolFault::FullTmpfs: return "No space left on device";
    default: return "Input/output error";
  }
}

const char* FaultName(SpoolFault fault) {
  switch (fault) {
    case SpoolFault::MissingFolder: return "TMPDIR missing";
    case SpoolFault::FullTmpfs: return "TMPDIR on a 64k tmpfs";
    default: return "spool writes fail with EIO";
  }
}

enum class Loss { Copies, BackSides };
// What the printer must still get, taken from the same job with one copy.
enum class Printed { WholeCopy, FrontsOnly };

struct SpoolCase {
  const char* name;
  Printer printer;
  int pages;
  unsigned copies;
  const char* options;
  // Noise rows of odd and of even pages: 200 rows make about 22 KB of image per page.
  unsigned oddNoise, evenNoise;
  SpoolFault fault;
  long long eioAfter;  // bytes each spool file takes before its writes fail (WriteEio)
  std::vector<Loss> losses;
  Printed printed;
};

std::string LossLine(Loss loss, unsigned copies, const char* reason) {
  if (loss == Loss::Copies)
    return "ERROR: Only 1 of " + std::to_string(copies) + " collated copies was printed: the spool file failed (" +
           reason + ")";
  return std::string("ERROR: The back sides of the manual duplex job were not printed: the spool file failed (") +
         reason + ")";
}

const char kManualDuplexOptions[] = "Duplex=DuplexNoTumble";
const char kManualDuplexCollated[] = "Duplex=DuplexNoTumble Collate=True";

const SpoolCase kCases[] = {
    // Collated copies: the collate file holds the first copy for the replays.
    {"collate C", kPrinterC, 4, 3, "Collate=True", 200, 200, SpoolFault::MissingFolder, 0, {Loss::Copies}, Printed::WholeCopy},
    {"collate Z", kPrinterZ, 4, 3, "Collate=True", 200, 200, SpoolFault::MissingFolder, 0, {Loss::Copies}, Printed::WholeCopy},
    {"collate M", kPrinterM, 4, 3, "Collate=True", 200, 200, SpoolFault::MissingFolder, 0, {Loss::Copies}, Printed::WholeCopy},
    {"collate C", kPrinterC, 4, 3, "Collate=True", 200, 200, SpoolFault::FullTmpfs, 0, {Loss::Copies}, Printed::WholeCopy},
    {"collate Z", kPrinterZ, 4, 3, "Collate=True", 200, 200, SpoolFault::FullTmpfs, 0, {Loss::Copies}, Printed::WholeCopy},
    {"collate M", kPrinterM, 4, 3, "Collate=True", 200, 200, SpoolFault::FullTmpfs, 0, {Loss::Copies}, Printed::WholeCopy},
    {"collate C", kPrinterC, 4, 3, "Collate=True", 200, 200, SpoolFault::WriteEio, 30000, {Loss::Copies}, Printed::WholeCopy},
    {"collate Z", kPrinterZ, 4, 3, "Collate=True", 200, 200, SpoolFault::WriteEio, 30000, {Loss::Copies}, Printed::WholeCopy},
    {"collate M", kPrinterM, 4, 3, "Collate=True", 200, 200, SpoolFault::WriteEio, 30000, {Loss::Copies}, Printed::WholeCopy},
    // Manual duplex on a Z printer that prints duplex that way: the odd pages go to the printer
    // (and the odd-page file), the even pages only to the even-page file.
    {"manual duplex", kPrinterZManualDuplex, 5, 1, kManualDuplexOptions, 200, 200, SpoolFault::MissingFolder, 0,
     {Loss::BackSides}, Printed::FrontsOnly},
    // Even pages of about 44 KB: the even-page file alone outgrows the tmpfs.
    {"manual duplex", kPrinterZManualDuplex, 5, 1, kManualDuplexOptions, 200, 400, SpoolFault::FullTmpfs, 0,
     {Loss::BackSides}, Printed::FrontsOnly},
    {"manual duplex", kPrinterZManualDuplex, 5, 1, kManualDuplexOptions, 200, 200, SpoolFault::WriteEio, 30000,
     {Loss::BackSides}, Printed::FrontsOnly},
    // Collated manual duplex: large odd pages and small even pages, so that with EIO after 8000
    // bytes only the files of the odd pages fail (the odd-page file, and the collate file where
    // there is one). The back sides are then sent once: one whole duplex copy.
    {"collated manual duplex, odd-page file fails", kPrinterZManualDuplex, 3, 2, kManualDuplexCollated, 200, 0,
     SpoolFault::WriteEio, 8000, {Loss::Copies}, Printed::WholeCopy},
    // Every spool file fails: the fronts of one copy, both losses.
    {"collated manual duplex", kPrinterZManualDuplex, 3, 2, kManualDuplexCollated, 200, 0, SpoolFault::MissingFolder, 0,
     {Loss::Copies, Loss::BackSides}, Printed::FrontsOnly},
};

Job MakeJob(const SpoolCase& c, unsigned copies) {
  std::vector<RasterPage> pages;
  for (int k = 1; k <= c.pages; ++k) {
    PageLook look;
    look.copies = copies;
    look.noiseRows = k % 2 == 1 ? c.oddNoise : c.evenNoise;
    pages.push_back(MakePage(k, look));
  }
  Job job;
  job.printer = c.printer;
  job.copies = copies;
  job.options = c.options;
  job.raster = RasterBytes(pages);
  return job;
}

// The pages the printer gets from the same job with one copy, whole or its fronts.
std::vector<const vi::Page*> Expected(const SpoolCase& c, const vi::InspectResult& single) {
  if (c.printed == Printed::WholeCopy) return PagesOf(single);
  size_t command = ItemOffset(single, "manualDuplexCmd");
  std::vector<const vi::Page*> fronts;
  for (const vi::Page& page : single.pages)
    if (page.offset < command) fronts.push_back(&page);
  return fronts;
}

// Runs the cases with (tmpfsCases) or without the tmpfs fault, each with its one-copy job.
void RunCases(bool tmpfsCases) {
  std::vector<const SpoolCase*> cases;
  for (const SpoolCase& c : kCases)
    if ((c.fault == SpoolFault::FullTmpfs) == tmpfsCases) cases.push_back(&c);
  const size_t n = cases.size();
  std::vector<std::unique_ptr<SmallTmpfs>> tmpfs(n);
  if (tmpfsCases) {
    for (size_t i = 0; i < n; ++i) {
      tmpfs[i] = std::make_unique<SmallTmpfs>("64k");
      if (tmpfs[i]->path().empty()) GTEST_SKIP() << tmpfs[i]->reason();
    }
  }
  // Runs 0..n-1 are the cases, n..2n-1 the same jobs with one copy and no fault. Most of the time
  // of a manual-duplex run is its 10-second pause for the turn-over, so many run at once.
  std::vector<Outcome> outcomes = RunParallel<Outcome>(2 * n, [&](size_t i) -> Outcome {
    const SpoolCase& c = *cases[i % n];
    RunOptions run;
    run.timeout_ms = 40000;
    if (i >= n) return RunJob(MakeJob(c, 1), run);
    Faults faults;
    if (c.fault == SpoolFault::MissingFolder) faults.tmpdirMissing = true;
    if (c.fault == SpoolFault::FullTmpfs) faults.tmpdir = tmpfs[i]->path();
    if (c.fault == SpoolFault::WriteEio) {
      faults.preload = IoShim();
      faults.env.push_back("VARNEL_FAULT_SPOOL_EIO_AFTER=" + std::to_string(c.eioAfter));
    }
    return RunJob(MakeJob(c, c.copies), run, faults);
  }, 8);

  for (size_t i = 0; i < n; ++i) {
    const SpoolCase& c = *cases[i];
    const std::string name = std::string(c.name) + ", " + FaultName(c.fault) + " (" + c.printer.fixture + ")";
    const Outcome& single = outcomes[n + i];
    ASSERT_EQ(single.run.exit_status, 0) << name << ": the one-copy job fails without a fault: " << Describe(single);
    ASSERT_TRUE(single.stream.Clean()) << name << ": the one-copy job is not clean: " << Defects(single.stream);
    if (c.fault == SpoolFault::FullTmpfs) {
      // The spool file that must fail gets more than the tmpfs holds: the collate file all pages,
      // the even-page file the back sides (what follows the turn-over command).
      size_t spooled = single.run.out.size();
      if (c.printed == Printed::FrontsOnly) spooled -= std::min(spooled, ItemOffset(single.stream, "manualDuplexCmd"));
      ASSERT_GT(spooled, 80u * 1024) << name << ": the spool file would fit into the 64 KiB tmpfs";
    }

    const Outcome& o = outcomes[i];
    Findings f;
    ExpectExit(&f, o, 1);
    std::vector<std::string> lines;
    for (Loss loss : c.losses) lines.push_back(LossLine(loss, c.copies, Reason(c.fault)));
    ExpectErrorLines(&f, o, lines);
    ExpectReady(&f, o, false);
    ExpectNoLeftovers(&f, o);
    ExpectWellFormed(&f, o);
    std::string pages = PageMismatch(o.stream.pages, Expected(c, single.stream));
    f.Expect(pages.empty(), "the printer did not get " +
                                std::string(c.printed == Printed::WholeCopy ? "one whole copy" : "the fronts of one copy") +
                                ": " + pages);
    if (c.fault == SpoolFault::WriteEio)
      f.Expect(!Has(o.run.err, " writes to standard output, 0 writes to spool files"), "the fault was never met");
    EXPECT_TRUE(f.empty()) << name << ":\n" << f.Text() << "  (" << Describe(o) << ")";
  }
}

TEST(SpoolFaults, MissingFolderOrFailingWritesLeaveThePrinterStreamWhole) { RunCases(false); }

TEST(SpoolFaults, FullTmpfsLeavesThePrinterStreamWhole) { RunCases(true); }

}  // namespace
}  // namespace fault
