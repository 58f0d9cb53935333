// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// varnel-printer-app end to end: a server on a loopback port with printers on file: devices,
// jobs in every format the application takes, and the streams they leave on the devices. A
// raster or PDF job must give the stream of the raster filter for the same pages and the job
// options a CUPS queue would pass; images are checked by their decoded page.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <thread>

#include "app_fixtures.h"
#include "app_server.h"
#include "models.h"
#include "pdf_filter.h"
#include "stream_inspect.h"

namespace varnel_test {
namespace {

struct Platform {
  const char* name;
  const char* driver;
};
const Platform kPlatforms[] = {{"C", "rxt30441"}, {"Z", "q7306mf"}, {"M", "prlm6100"}};

std::string SamplePdf() { return SourcePath("tests/fixtures/sample.pdf"); }

// The PWG raster that the application's Ghostscript makes of a PDF on A4.
std::string RenderedPdf(const TempDir& dir, const std::string& pdf, int dpi) {
  std::string rendered = dir.File("rendered-" + std::to_string(dpi) + ".pwg");
  std::vector<std::string> gs = GhostscriptArguments(pdf, 595, 842, dpi);
  gs.erase(gs.begin());
  gs.insert(gs.end() - 2, "-sOutputFile=" + rendered);
  EXPECT_EQ(RunProgram("/usr/bin/gs", gs).exit_status, 0);
  return rendered;
}

// A PDF of the first page of the sample, or of the sample's pages repeated.
std::string SubsetPdf(const TempDir& dir, const std::string& name, int copies_of_sample, bool first_page_only) {
  std::string out = dir.File(name);
  std::vector<std::string> args = {"-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-sDEVICE=pdfwrite", "-sOutputFile=" + out};
  if (first_page_only) args.insert(args.end(), {"-dFirstPage=1", "-dLastPage=1"});
  for (int i = 0; i < copies_of_sample; ++i) args.push_back(SamplePdf());
  EXPECT_EQ(RunProgram("/usr/bin/gs", args).exit_status, 0);
  return out;
}

// Starts a server with one printer; a failure stops the test.
#define START_SERVER_WITH(server, printer, driver)          \
  ASSERT_TRUE((server).Start()) << (server).error();        \
  ASSERT_TRUE((server).AddPrinter(printer, driver)) << (server).error()

// Prints, waits for the end of the job and expects it completed; the job's id.
int PrintAndComplete(AppServer& server, const std::string& printer, const std::string& file, const std::string& format,
                     const std::string& name, const std::map<std::string, std::string>& attributes) {
  int id = server.Print(printer, file, format, name, attributes);
  EXPECT_GT(id, 0) << server.error();
  if (id <= 0) return 0;
  JobResult job = server.WaitForJob(printer, id);
  EXPECT_FALSE(job.timedOut) << name;
  EXPECT_EQ(job.state, IPP_JSTATE_COMPLETED) << name << ": " << job.message;
  return id;
}

// What the raster filter makes of the raster file for the queue job.
std::vector<uint8_t> Reference(const TempDir& dir, const std::string& raster, const QueueJob& job) {
  std::string queue_raster = dir.File("queue-" + std::to_string(job.job_id) + ".ras");
  EXPECT_TRUE(WriteQueueRaster(raster, queue_raster, job));
  std::string log;
  std::vector<uint8_t> stream = FilterStream(queue_raster, job, &log);
  EXPECT_FALSE(stream.empty()) << log;
  unlink(queue_raster.c_str());
  return stream;
}

class PrintingOnEachPlatform : public ::testing::TestWithParam<Platform> {};

TEST_P(PrintingOnEachPlatform, RasterAndPdfJobsGiveTheFiltersStream) {
  const Platform& platform = GetParam();
  AppServer server;
  START_SERVER_WITH(server, "p", platform.driver);
  TempDir dir;

  // PWG raster, two pages, two collated copies, long-edge duplex, the darkest density.
  std::string pwg = dir.File("pages.pwg");
  WritePwgRaster(pwg, {PatternPage("iso_a4_210x297mm", 600, 1), PatternPage("iso_a4_210x297mm", 600, 2)});
  int id = PrintAndComplete(server, "p", pwg, "image/pwg-raster", "raster",
                            {{"copies", "2"}, {"sides", "two-sided-long-edge"}, {"print-darkness", "50"}});
  QueueJob raster_job{platform.driver, id, "raster", 2, "two-sided-long-edge", 4};
  EXPECT_EQ(StreamDifference(Bytes(server.Output("p", "raster")), Reference(dir, pwg, raster_job)), "");

  // The same page in black levels (0 = white), as PWG's black_8 type has it.
  std::string black = dir.File("black.pwg");
  WritePwgRaster(black, {PatternPage("iso_a4_210x297mm", 600, 3, "black_8")});
  id = PrintAndComplete(server, "p", black, "image/pwg-raster", "black", {});
  EXPECT_EQ(StreamDifference(Bytes(server.Output("p", "black")), Reference(dir, black, {platform.driver, id, "black"})), "");

  // A three-page PDF with two copies, short-edge duplex (a blank back side ends each copy) and
  // the lightest density: Ghostscript renders it as the application does.
  id = PrintAndComplete(server, "p", SamplePdf(), "application/pdf", "pdf",
                        {{"copies", "2"}, {"sides", "two-sided-short-edge"}, {"print-darkness", "-50"}});
  std::string rendered = RenderedPdf(dir, SamplePdf(), 600);
  QueueJob pdf_job{platform.driver, id, "pdf", 2, "two-sided-short-edge", 0};
  std::vector<uint8_t> pdf_stream = Bytes(server.Output("p", "pdf"));
  EXPECT_EQ(StreamDifference(pdf_stream, Reference(dir, rendered, pdf_job)), "");
  varnel_inspect::InspectResult pdf_pages = varnel_inspect::InspectStream(pdf_stream);
  EXPECT_EQ(pdf_pages.pages.size(), 8u) << "3 pages and a blank back side, twice";

  // High quality is the 1200-dpi mode: 1200-dpi rasters on C, a finer halftone (Z) or two bits
  // per pixel (M) on 600-dpi rasters on the others.
  const VARNEL_MODEL* model = FindModel(platform.driver);
  ASSERT_NE(model, nullptr);
  std::string one_page = SubsetPdf(dir, "one.pdf", 1, true);
  int fine = PrintAndComplete(server, "p", one_page, "application/pdf", "fine", {{"print-quality", "5"}});
  QueueJob fine_job{platform.driver, fine, "fine"};
  fine_job.dpi1200 = true;
  EXPECT_EQ(StreamDifference(Bytes(server.Output("p", "fine")),
                             Reference(dir, RenderedPdf(dir, one_page, model->raster1200 ? 1200 : 600), fine_job)),
            "");

  // The print core's log lines are in the server's log, with their job.
  EXPECT_NE(server.Log().find("[Job " + std::to_string(id) + "] ##page is 3, rotate180 is"), std::string::npos);
  EXPECT_EQ(server.Stop(), 0) << server.Diagnostics();
}

TEST_P(PrintingOnEachPlatform, ImagesAreScaledOntoThePage) {
  const Platform& platform = GetParam();
  AppServer server;
  START_SERVER_WITH(server, "p", platform.driver);
  TempDir dir;
  struct Image {
    const char* device;
    const char* file;
    const char* format;
  } images[] = {{"pnggray", "half.png", "image/png"}, {"jpeggray", "half.jpg", "image/jpeg"}};
  for (const Image& image : images) {
    ASSERT_TRUE(HalfBlackImage(dir.File(image.file), image.device, 50));
    PrintAndComplete(server, "p", dir.File(image.file), image.format, image.file,
                     {{"print-scaling", "fill"}, {"copies", "2"}});
    varnel_inspect::InspectResult result = varnel_inspect::InspectStream(Bytes(server.Output("p", image.file)));
    ASSERT_TRUE(result.Clean()) << varnel_inspect::FormatDefects(result);
    // PAPPL renders the image once; the core makes the collated copies.
    ASSERT_EQ(result.pages.size(), 2u) << image.file;
    for (const varnel_inspect::Page& page : result.pages) {
      EXPECT_EQ(varnel_inspect::FieldValue(page.fields, "copies"), 1) << image.file;
      ASSERT_TRUE(page.decoded) << image.file;
      unsigned w = page.plane.width;
      EXPECT_GT(InkShare(page.plane, 0, w * 2 / 5), 0.98) << image.file << ": the black half";
      EXPECT_LT(InkShare(page.plane, w * 3 / 5, w), 0.02) << image.file << ": the white half";
    }
  }
  EXPECT_EQ(server.Stop(), 0) << server.Diagnostics();
}

INSTANTIATE_TEST_SUITE_P(Platforms, PrintingOnEachPlatform, ::testing::ValuesIn(kPlatforms),
                         [](const ::testing::TestParamInfo<Platform>& info) { return std::string(info.param.name); });

// CUPS's IPP conformance suites, with a PDF document, against a printer of each platform.
class IppSuites : public ::testing::TestWithParam<Platform> {};

TEST_P(IppSuites, Ipp11AndIpp20Pass) {
  AppServer server;
  START_SERVER_WITH(server, "p", GetParam().driver);
  // The suites name their own documents next to the test files; PostScript ones only need to
  // exist (the printer takes no PostScript, so those tests are skipped).
  TempDir dir;
  for (const char* suite : {"ipp-1.1.test", "ipp-2.0.test"})
    WriteFile(dir.File(suite), ReadFile(std::string("/usr/share/cups/ipptool/") + suite));
  for (const char* pdf : {"document-a4.pdf", "document-letter.pdf"}) WriteFile(dir.File(pdf), ReadFile(SamplePdf()));
  for (const char* ps : {"document-a4.ps", "document-letter.ps"}) WriteFile(dir.File(ps), "%!PS\nshowpage\n");
  // printer-up-time must be above 0.
  sleep(1);
  for (const char* version : {"1.1", "2.0"}) {
    std::string suite = dir.File(std::string("ipp-") + version + ".test");
    RunOptions options;
    options.timeout_ms = 300000;
    ProcessResult run = RunProgram("/usr/bin/ipptool", {"-V", version, "-f", SamplePdf(), "-t", server.PrinterUri("p"), suite},
                                   options);
    EXPECT_EQ(run.exit_status, 0) << run.out << run.err;
    EXPECT_EQ(run.out.find("[FAIL]"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("[PASS]"), std::string::npos) << run.out << run.err;
  }
  EXPECT_EQ(server.Stop(), 0) << server.Diagnostics();
}

INSTANTIATE_TEST_SUITE_P(Platforms, IppSuites, ::testing::ValuesIn(kPlatforms),
                         [](const ::testing::TestParamInfo<Platform>& info) { return std::string(info.param.name); });

TEST(PrinterApp, AutoAddPicksTheDriverOfEachModel) {
  AppServer server;  // only for its environment: `drivers` runs without a server
  for (size_t i = 0; i < gVarnelModelCount; ++i) {
    const VARNEL_MODEL& model = gVarnelModels[i];
    // The value is quoted: a device ID has blanks, which part options.
    ProcessResult listed = server.Command(
        {"drivers", "-o", "private-server=true", "-o", std::string("device-id='") + model.deviceId + "'"});
    ASSERT_EQ(listed.exit_status, 0) << listed.err;
    EXPECT_EQ(listed.out.substr(0, listed.out.find(' ')), model.driverName) << listed.out;
    EXPECT_EQ(std::count(listed.out.begin(), listed.out.end(), '\n'), 1) << listed.out;
  }
  ProcessResult none = server.Command(
      {"drivers", "-o", "private-server=true", "-o", "device-id='MFG:RX;MDL:RXT415K2 series;CMD:PJL,POSTSCRIPT;'"});
  EXPECT_EQ(none.out, "") << "a PostScript model is not the application's";
}

TEST(PrinterApp, PrintersAndTheirSettingsOutliveARestart) {
  AppServer server;
  START_SERVER_WITH(server, "kept", "q7306mf");
  ProcessResult modified = server.Command({"modify", "-d", "kept", "-o", "printer-darkness-configured=100"});
  ASSERT_EQ(modified.exit_status, 0) << modified.err;
  ASSERT_EQ(server.Stop(), 0) << server.Diagnostics();
  ASSERT_TRUE(server.Start()) << server.error();
  ProcessResult listed = server.Command({"printers"});
  EXPECT_EQ(listed.out, "kept\n") << listed.err;
  // The saved darkness applies to a job that does not say: the darkest density.
  TempDir dir;
  std::string pwg = dir.File("page.pwg");
  WritePwgRaster(pwg, {PatternPage("iso_a4_210x297mm", 600, 1)});
  PrintAndComplete(server, "kept", pwg, "image/pwg-raster", "kept", {});
  varnel_inspect::InspectResult result = varnel_inspect::InspectStream(Bytes(server.Output("kept", "kept")));
  EXPECT_TRUE(result.Clean()) << varnel_inspect::FormatDefects(result);
  EXPECT_EQ(varnel_inspect::FieldValue(result.document.fields, "density"), 4);
  EXPECT_EQ(server.Stop(), 0) << server.Diagnostics();
}

TEST(PrinterApp, ManualDuplexShowsTheTurnOverMessageAsThePrintersState) {
  const VARNEL_MODEL* model = FindModel("q7106mf");
  ASSERT_NE(model, nullptr);
  ASSERT_EQ(model->supportManualDuplex, 1);
  AppServer server;
  START_SERVER_WITH(server, "z", model->driverName);
  TempDir dir;
  std::string pwg = dir.File("three.pwg");
  WritePwgRaster(pwg, {PatternPage("iso_a4_210x297mm", 600, 1), PatternPage("iso_a4_210x297mm", 600, 2),
                       PatternPage("iso_a4_210x297mm", 600, 3)});
  int id = server.Print("z", pwg, "image/pwg-raster", "manual", {{"sides", "two-sided-long-edge"}});
  ASSERT_GT(id, 0) << server.error();
  JobResult job = server.WaitForJob("z", id);
  EXPECT_EQ(job.state, IPP_JSTATE_COMPLETED) << job.message;
  EXPECT_EQ(job.message, model->duplexMsg);
  std::vector<std::string> reasons = server.PrinterReasons("z");
  EXPECT_NE(std::find(reasons.begin(), reasons.end(), "media-needed"), reasons.end());
  // Odd pages, the turn-over command, a blank back side and the even page: as the filter does.
  QueueJob queue{model->driverName, id, "manual", 1, "two-sided-long-edge", 2};
  EXPECT_EQ(StreamDifference(Bytes(server.Output("z", "manual")), Reference(dir, pwg, queue)), "");
  EXPECT_EQ(server.Stop(), 0) << server.Diagnostics();
}

TEST(PrinterApp, JobsOnTwoPrintersPrintOneAfterTheOther) {
  AppServer server;
  START_SERVER_WITH(server, "z", "q7306mf");
  ASSERT_TRUE(server.AddPrinter("m", "prlm6100")) << server.error();
  TempDir dir;
  std::string pwg = dir.File("page.pwg");
  WritePwgRaster(pwg, {PatternPage("iso_a4_210x297mm", 600, 1), PatternPage("iso_a4_210x297mm", 600, 2)});
  // Both jobs stream their raster at once, from two clients.
  int ids[2] = {0, 0};
  std::thread second([&] { ids[1] = server.Print("m", pwg, "image/pwg-raster", "both", {}); });
  ids[0] = server.Print("z", pwg, "image/pwg-raster", "both", {});
  second.join();
  ASSERT_GT(ids[0], 0);
  ASSERT_GT(ids[1], 0);
  EXPECT_EQ(server.WaitForJob("z", ids[0]).state, IPP_JSTATE_COMPLETED);
  EXPECT_EQ(server.WaitForJob("m", ids[1]).state, IPP_JSTATE_COMPLETED);
  EXPECT_EQ(StreamDifference(Bytes(server.Output("z", "both")), Reference(dir, pwg, {"q7306mf", ids[0], "both"})), "");
  EXPECT_EQ(StreamDifference(Bytes(server.Output("m", "both")), Reference(dir, pwg, {"prlm6100", ids[1], "both"})), "");
  EXPECT_EQ(server.Stop(), 0) << server.Diagnostics();
}

// An AppSocket printer: one connection on a loopback port that the kernel chose, read to its end.
class SocketPrinter {
 public:
  SocketPrinter() {
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && listen(listener_, 1) == 0 &&
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) == 0)
      port_ = ntohs(address.sin_port);
    reader_ = std::thread([this] {
      int connection = accept(listener_, nullptr, nullptr);
      char buffer[65536];
      for (ssize_t n; connection >= 0 && (n = read(connection, buffer, sizeof buffer)) > 0;) received_.append(buffer, n);
      if (connection >= 0) close(connection);
    });
  }
  ~SocketPrinter() {
    shutdown(listener_, SHUT_RDWR);
    if (reader_.joinable()) reader_.join();
    close(listener_);
  }
  int port() const { return port_; }
  // Waits until the application has closed the connection; what the printer got.
  std::string Received() {
    reader_.join();
    return received_;
  }

 private:
  int listener_ = -1;
  int port_ = 0;
  std::thread reader_;
  std::string received_;
};

TEST(PrinterApp, AnAppSocketPrinterGetsTheStream) {
  SocketPrinter printer;
  ASSERT_GT(printer.port(), 0);
  AppServer server;
  ASSERT_TRUE(server.Start()) << server.error();
  ProcessResult added =
      server.Command({"add", "-d", "net", "-m", "prlm6100", "-v", "socket://127.0.0.1:" + std::to_string(printer.port())});
  ASSERT_EQ(added.exit_status, 0) << added.err;
  TempDir dir;
  std::string pwg = dir.File("page.pwg");
  WritePwgRaster(pwg, {PatternPage("iso_a4_210x297mm", 600, 1)});
  int id = PrintAndComplete(server, "net", pwg, "image/pwg-raster", "net", {});
  EXPECT_EQ(StreamDifference(Bytes(printer.Received()), Reference(dir, pwg, {"prlm6100", id, "net"})), "");
  EXPECT_EQ(server.Stop(), 0) << server.Diagnostics();
}

TEST(PrinterApp, ACancelledJobStopsAtAPageBoundary) {
  AppServer server;
  START_SERVER_WITH(server, "z", "q7306mf");
  TempDir dir;
  std::string long_pdf = SubsetPdf(dir, "long.pdf", 8, false);  // 24 pages
  int id = server.Print("z", long_pdf, "application/pdf", "long", {});
  ASSERT_GT(id, 0) << server.error();
  // Cancel once the first page has reached the printer.
  std::string out = server.OutputDir("z") + "/long.prn";
  for (int i = 0; i < 600 && ReadFile(out).size() < 20000; ++i) usleep(50 * 1000);
  ASSERT_TRUE(server.Cancel("z", id));
  JobResult job = server.WaitForJob("z", id);
  EXPECT_EQ(job.state, IPP_JSTATE_CANCELED) << job.message;
  // The Z printer gets whole pages and the end of the document, and not all 24 pages.
  varnel_inspect::InspectResult result = varnel_inspect::InspectStream(Bytes(server.Output("z", "long")));
  EXPECT_TRUE(result.Clean()) << varnel_inspect::FormatDefects(result);
  EXPECT_GE(result.pages.size(), 1u);
  EXPECT_LT(result.pages.size(), 24u);
  // The next job prints: the cancelled one gave its place back.
  std::string pwg = dir.File("page.pwg");
  WritePwgRaster(pwg, {PatternPage("iso_a4_210x297mm", 600, 1)});
  PrintAndComplete(server, "z", pwg, "image/pwg-raster", "after", {});
  EXPECT_EQ(server.Stop(), 0) << server.Diagnostics();
}

TEST(PrinterApp, FailuresEndTheJobWithAClearError) {
  AppServer server;
  START_SERVER_WITH(server, "z", "q7306mf");
  TempDir dir;
  std::string pwg = dir.File("page.pwg");
  WritePwgRaster(pwg, {PatternPage("iso_a4_210x297mm", 600, 1)});

  // A printer that takes nothing: the job is aborted and says why.
  ProcessResult added = server.Command({"add", "-d", "full", "-m", "q7306mf", "-v", "file:///dev/full"});
  ASSERT_EQ(added.exit_status, 0) << added.err;
  int id = server.Print("full", pwg, "image/pwg-raster", "full", {});
  ASSERT_GT(id, 0) << server.error();
  JobResult full = server.WaitForJob("full", id);
  EXPECT_EQ(full.state, IPP_JSTATE_ABORTED);
  EXPECT_NE(full.message.find("Unable to send the job to the printer"), std::string::npos) << full.message;

  // A raster of a resolution the printer does not print.
  std::string coarse = dir.File("coarse.pwg");
  WritePwgRaster(coarse, {PatternPage("iso_a4_210x297mm", 300, 1)});
  id = server.Print("z", coarse, "image/pwg-raster", "coarse", {});
  ASSERT_GT(id, 0) << server.error();
  JobResult refused = server.WaitForJob("z", id);
  EXPECT_EQ(refused.state, IPP_JSTATE_ABORTED);
  EXPECT_NE(refused.message.find("300x300 dpi is not supported"), std::string::npos) << refused.message;

  // A PWG raster page whose header claims a page far larger than any paper of the printer (the
  // raster itself is small): refused before the core allocates the page.
  std::string huge = dir.File("huge.pwg");
  RasterPage hugePage = PatternPage("iso_a6_105x148mm", 600, 1);
  hugePage.header.PageSize[0] = hugePage.header.PageSize[1] = 3370;
  WritePwgRaster(huge, {hugePage});
  id = server.Print("z", huge, "image/pwg-raster", "huge", {});
  ASSERT_GT(id, 0) << server.error();
  JobResult tooLarge = server.WaitForJob("z", id);
  EXPECT_EQ(tooLarge.state, IPP_JSTATE_ABORTED);
  EXPECT_NE(tooLarge.message.find("refused: PageSize = [ 3370 3370 ] is larger than the largest paper"),
            std::string::npos)
      << tooLarge.message;
  EXPECT_EQ(server.Output("z", "huge"), "") << "nothing reached the printer";

  // A PDF that Ghostscript cannot read.
  std::string broken = dir.File("broken.pdf");
  WriteFile(broken, "%PDF-1.4\n1 0 obj << /Type /Catalog >> endobj\ntrailer << /Root 1 0 R >>\n%%EOF\n");
  id = server.Print("z", broken, "application/pdf", "broken", {});
  ASSERT_GT(id, 0) << server.error();
  JobResult unreadable = server.WaitForJob("z", id);
  EXPECT_EQ(unreadable.state, IPP_JSTATE_ABORTED);
  EXPECT_NE(unreadable.message.find("PDF document"), std::string::npos) << unreadable.message;
  EXPECT_EQ(server.Output("z", "broken"), "") << "nothing reached the printer";

  // A format that the application does not print: PAPPL 1.3 takes the job, which then ends
  // aborted (and the server goes on: it used to stop on such a job).
  std::string text = dir.File("note.txt");
  WriteFile(text, "plain text\n");
  id = server.Print("z", text, "text/plain", "text", {});
  ASSERT_GT(id, 0) << server.error();
  EXPECT_EQ(server.WaitForJob("z", id).state, IPP_JSTATE_ABORTED);
  // Bytes of no format that PAPPL can tell, sent as application/octet-stream.
  std::string noise = dir.File("noise.bin");
  WriteFile(noise, std::string(64, '\x17') + "no document");
  id = server.Print("z", noise, "application/octet-stream", "noise", {});
  if (id > 0) {
    JobResult unknown = server.WaitForJob("z", id);
    EXPECT_EQ(unknown.state, IPP_JSTATE_ABORTED);
    EXPECT_NE(unknown.message.find("not in a format that this printer prints"), std::string::npos) << unknown.message;
  } else {
    EXPECT_NE(server.error().find("document-format-not-supported"), std::string::npos) << server.error();
  }
  EXPECT_EQ(server.Output("z", "noise"), "") << "nothing reached the printer";
  EXPECT_EQ(server.Stop(), 0) << server.Diagnostics();
}

}  // namespace
}  // namespace varnel_test
