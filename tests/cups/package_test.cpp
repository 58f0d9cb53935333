// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// The Debian packages, built from a copy of the checkout with the distribution's tools: the
// driver (printer-driver-varnel) and the Printer Application (varnel-printer-app). Their file
// lists and dependencies, lintian, the application's service, and the unpacked programs at work:
// PPDs checked by cupstestppd against the unpacked filters, a private cupsd whose filters and
// driver list come from the unpacked driver package, finding the drivers by device ID and
// printing through them, and the unpacked application serving a printer on a loopback port. The
// packages are built once for all of these tests, which therefore run in one process (one CTest
// test).
#include <cups/ipp.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app_server.h"
#include "cups_support.h"
#include "private_cupsd.h"
#include "test_support.h"

namespace varnel_test {
namespace {

const char kDriverPackage[] = "printer-driver-varnel";
const char kAppPackage[] = "varnel-printer-app";
const char kVersion[] = "1.0.0";

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Tools the package build and the checks need, and the build dependency that the rest of the
// test suite can do without (PAPPL's headers, for the application).
std::string MissingTools() {
  std::string missing;
  for (const char* tool : {"/usr/bin/dpkg-buildpackage", "/usr/bin/dh", "/usr/bin/lintian", "/usr/bin/dpkg-deb"})
    if (access(tool, X_OK) != 0) missing += std::string(missing.empty() ? "" : ", ") + tool;
  if (access("/usr/include/pappl/pappl.h", R_OK) != 0)
    missing += std::string(missing.empty() ? "" : ", ") + "/usr/include/pappl/pappl.h";
  return missing;
}

// "mode path" of the files of a package, without folders.
std::set<std::string> PackageFiles(const std::string& deb) {
  ProcessResult listed = RunProgram("/usr/bin/dpkg-deb", {"--contents", deb});
  EXPECT_EQ(listed.exit_status, 0) << listed.err;
  std::set<std::string> files;
  for (const auto& line : Lines(listed.out)) {
    std::istringstream fields(line);
    std::string mode, owner, size, date, time, path;
    fields >> mode >> owner >> size >> date >> time >> path;
    if (mode[0] != 'd') files.insert(mode + " " + path.substr(1));
  }
  return files;
}

// A field of a package's control file.
std::string ControlField(const std::string& deb, const std::string& field) {
  ProcessResult shown = RunProgram("/usr/bin/dpkg-deb", {"--field", deb, field});
  EXPECT_EQ(shown.exit_status, 0) << shown.err;
  return shown.out;
}

class DebianPackage : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!MissingTools().empty()) return;
    out_ = new TempDir;
    RunOptions options;
    options.timeout_ms = 20 * 60 * 1000;
    built_ = new ProcessResult(RunProgram("/bin/bash", {SourcePath("scripts/build-deb.sh"), out_->path()}, options));
  }
  static void TearDownTestSuite() {
    delete built_;
    delete out_;
    built_ = nullptr;
    out_ = nullptr;
  }
  void SetUp() override {
    std::string missing = MissingTools();
    if (!missing.empty()) GTEST_SKIP() << "missing for the package build (scripts/install-deps.sh installs them): " << missing;
    ASSERT_EQ(built_->exit_status, 0) << built_->out << built_->err;
    deb_ = FindDeb(kDriverPackage);
    ASSERT_FALSE(deb_.empty()) << "no " << kDriverPackage << " package in " << out_->path();
    app_deb_ = FindDeb(kAppPackage);
    ASSERT_FALSE(app_deb_.empty()) << "no " << kAppPackage << " package in " << out_->path();
  }
  // The package NAME_VERSION_ARCH.deb (not its -dbgsym companion).
  static std::string FindDeb(const std::string& package) {
    std::string start = package + "_" + kVersion + "_";
    for (const auto& file : ListFiles(out_->path()))
      if (file.rfind(start, 0) == 0 && file.size() > 4 && file.compare(file.size() - 4, 4, ".deb") == 0)
        return out_->File(file);
    return "";
  }
  // Unpacks a package with dpkg -x into a root.
  static void Unpack(const std::string& deb, const TempDir& root) {
    ProcessResult unpacked = RunProgram("/usr/bin/dpkg", {"-x", deb, root.path()});
    ASSERT_EQ(unpacked.exit_status, 0) << unpacked.err;
  }
  void Unpack(const TempDir& root) { Unpack(deb_, root); }

  static TempDir* out_;
  static ProcessResult* built_;
  std::string deb_;      // printer-driver-varnel
  std::string app_deb_;  // varnel-printer-app
};

TempDir* DebianPackage::out_ = nullptr;
ProcessResult* DebianPackage::built_ = nullptr;

TEST_F(DebianPackage, HoldsTheFiltersPpdsToolManualPagesAndPpdUpdater) {
  std::set<std::string> expected = {
      "-rwxr-xr-x /usr/lib/cups/filter/rastertoVarnel",
      "-rwxr-xr-x /usr/lib/cups/filter/pstoVarnel",
      "-rwxr-xr-x /usr/bin/varnel-inspect",
      "-rw-r--r-- /usr/share/man/man1/varnel-inspect.1.gz",
      "-rw-r--r-- /usr/share/man/man8/rastertoVarnel.8.gz",
      "-rw-r--r-- /usr/share/man/man8/pstoVarnel.8.gz",
      "-rw-r--r-- /usr/share/cups/ppd-updaters/printer-driver-varnel.ppd-updater",
      "-rw-r--r-- /usr/share/doc/printer-driver-varnel/README.md.gz",
      "-rw-r--r-- /usr/share/doc/printer-driver-varnel/changelog.gz",
      "-rw-r--r-- /usr/share/doc/printer-driver-varnel/copyright",
  };
  for (const auto& ppd : ListFiles(PpdPath(""))) expected.insert("-rw-r--r-- /usr/share/ppd/varnel/" + ppd);
  EXPECT_EQ(PackageFiles(deb_), expected);
  // A CUPS-only installation does not pull in PAPPL.
  std::string depends = ControlField(deb_, "Depends");
  EXPECT_EQ(depends.find("pappl"), std::string::npos) << depends;

  // The updater names this driver's PPDs as the scheduler lists them.
  TempDir root;
  Unpack(root);
  std::string updater = ReadFile(root.path() + "/usr/share/cups/ppd-updaters/printer-driver-varnel.ppd-updater");
  EXPECT_NE(updater.find("DRIVER_REGEXP='lsb/usr/varnel/'"), std::string::npos) << updater;
}

TEST_F(DebianPackage, ApplicationPackageHoldsTheProgramItsServiceAndManualPage) {
  const std::string doc = "/usr/share/doc/varnel-printer-app/";
  const std::set<std::string> expected = {
      "-rwxr-xr-x /usr/bin/varnel-printer-app",
      "-rw-r--r-- /lib/systemd/system/varnel-printer-app.service",
      "-rw-r--r-- /usr/share/man/man1/varnel-printer-app.1.gz",
      "-rw-r--r-- " + doc + "README.md.gz",
      "-rw-r--r-- " + doc + "changelog.gz",
      "-rw-r--r-- " + doc + "copyright",
  };
  EXPECT_EQ(PackageFiles(app_deb_), expected);

  // PAPPL and Ghostscript (for PDF); the print core is in the program, the driver package is
  // not needed.
  std::string depends = ControlField(app_deb_, "Depends");
  for (const char* needed : {"libpappl1", "ghostscript"})
    EXPECT_NE(depends.find(needed), std::string::npos) << needed << " missing in " << depends;
  EXPECT_EQ(depends.find(kDriverPackage), std::string::npos) << depends;

  // The unit starts the packaged program.
  TempDir root;
  Unpack(app_deb_, root);
  std::string unit = ReadFile(root.path() + "/lib/systemd/system/varnel-printer-app.service");
  EXPECT_NE(unit.find("\nExecStart=/usr/bin/varnel-printer-app server "), std::string::npos) << unit;
  EXPECT_NE(unit.find("\nDocumentation=man:varnel-printer-app(1)\n"), std::string::npos) << unit;
}

// As Debian ships Printer Applications: the service is enabled and started when the package is
// installed (restarted on upgrade, stopped on removal); purging removes the printers it kept.
TEST_F(DebianPackage, ApplicationServiceIsEnabledAndStartedOnInstall) {
  TempDir control;
  ProcessResult extracted = RunProgram("/usr/bin/dpkg-deb", {"--control", app_deb_, control.path()});
  ASSERT_EQ(extracted.exit_status, 0) << extracted.err;
  const std::string unit = "'varnel-printer-app.service'";
  std::string postinst = ReadFile(control.File("postinst"));
  EXPECT_NE(postinst.find("deb-systemd-helper enable " + unit), std::string::npos) << postinst;
  EXPECT_NE(postinst.find("_dh_action=start"), std::string::npos) << postinst;
  EXPECT_NE(postinst.find("deb-systemd-invoke $_dh_action " + unit), std::string::npos) << postinst;
  std::string prerm = ReadFile(control.File("prerm"));
  EXPECT_NE(prerm.find("deb-systemd-invoke stop " + unit), std::string::npos) << prerm;
  std::string postrm = ReadFile(control.File("postrm"));
  EXPECT_NE(postrm.find("deb-systemd-helper purge " + unit), std::string::npos) << postrm;
  EXPECT_NE(postrm.find("rm -f /var/lib/varnel-printer-app.state\n"), std::string::npos) << postrm;
  // The driver package has no service.
  TempDir driver_control;
  ASSERT_EQ(RunProgram("/usr/bin/dpkg-deb", {"--control", deb_, driver_control.path()}).exit_status, 0);
  EXPECT_EQ(ReadFile(driver_control.File("postinst")).find("systemd"), std::string::npos);
}

TEST_F(DebianPackage, LintianReportsNoErrorsOnEitherPackage) {
  std::string changes = deb_.substr(0, deb_.size() - 4) + ".changes";
  std::string listed = ReadFile(changes);
  for (const std::string& deb : {deb_, app_deb_}) {
    std::string name = deb.substr(deb.rfind('/') + 1);
    EXPECT_NE(listed.find(" " + name + "\n"), std::string::npos) << name << " missing in " << changes << ":\n" << listed;
  }
  RunOptions options;
  options.timeout_ms = 10 * 60 * 1000;
  ProcessResult checked = RunProgram("/usr/bin/lintian", {changes}, options);
  EXPECT_EQ(checked.exit_status, 0) << checked.out << checked.err;
  for (const auto& line : Lines(checked.out)) EXPECT_NE(line.rfind("E: ", 0), 0u) << line;
}

TEST_F(DebianPackage, UnpackedPpdsPassCupstestppdWithTheUnpackedFilters) {
  TempDir root;
  Unpack(root);
  std::vector<std::string> ppds = ListFiles(root.path() + "/usr/share/ppd/varnel");
  ASSERT_EQ(ppds, ListFiles(PpdPath("")));
  for (const auto& ppd : ppds) {
    std::string path = root.path() + "/usr/share/ppd/varnel/" + ppd;
    // -R: the cupsFilter programs are looked for under the unpacked root.
    ProcessResult checked = RunProgram("/usr/bin/cupstestppd", {"-W", "all", "-R", root.path(), path});
    EXPECT_EQ(checked.out, path + ": PASS\n") << checked.err;
  }
}

// The device IDs as the printers report them (the filters' device checks use the same).
const std::pair<const char*, const char*> kDeviceIds[] = {
    {"rxt30441.ppd", "MFG:R&X;MDL:RXT30441 series;CLS:PRINTER;DES:R&X RXT30441 series;"},
    {"rxt415k3.ppd", "MFG:RX;MDL:RXT415K3 series;CLS:PRINTER;DES:RX RXT415K3 series;"},
    {"prlm6100.ppd", "MFG:PRUL;MDL:PRLM6100N-series;CLS:PRINTER;DES:PRUL-PRLM6100N-series;"},
    {"q7106mf.ppd", "MFG:VOLTRAN ISKELA;MDL:quilon 7106MF;CLS:PRINTER;DES:VOLTRAN ISKELA quilon 7106MF;"},
    {"q7306mfn.ppd", "MFG:VOLTRAN ISKELA;MDL:quilon7306MF series;CLS:PRINTER;"},
    {"rxt415k2.ppd", "MFG:RX;MDL:RXT415K2 series;CMD:PJL,POSTSCRIPT;CLS:PRINTER;"},
    {"tp5720dn.ppd", "MFG:TT VISTA;MDL:TP5720DN series;CMD:PJL,POSTSCRIPT;CLS:PRINTER;"},
    {"prlm8400.ppd", "MFG:PRUL;MDL:PRLM8400ADN series;CMD:PJL,POSTSCRIPT;CLS:PRINTER;"},
};

TEST_F(DebianPackage, PrivateCupsdFindsAndPrintsThroughTheUnpackedDriver) {
  TempDir root;
  Unpack(root);
  PrivateCupsd cupsd;
  ASSERT_TRUE(cupsd.InstallFilter(root.path() + "/usr/lib/cups/filter/rastertoVarnel"));
  ASSERT_TRUE(cupsd.InstallFilter(root.path() + "/usr/lib/cups/filter/pstoVarnel"));
  ASSERT_TRUE(cupsd.InstallBackend(CAPTURE_BACKEND, "capture"));
  cupsd.AddModelFolder(root.path() + "/usr/share/ppd/varnel", "varnel");
  ASSERT_TRUE(cupsd.Start()) << cupsd.ErrorLog();

  // The driver list: every PPD of the package, each found by its printer's device ID.
  ProcessResult drivers = cupsd.Client("lpinfo", {"-m"});
  ASSERT_EQ(drivers.exit_status, 0) << drivers.err;
  for (const auto& ppd : ListFiles(root.path() + "/usr/share/ppd/varnel"))
    EXPECT_NE(drivers.out.find("varnel/" + ppd + " "), std::string::npos) << ppd << " missing in\n" << drivers.out;
  for (const auto& model : kDeviceIds) {
    ProcessResult found = cupsd.Client("lpinfo", {"--device-id", model.second, "-m"});
    EXPECT_NE(found.out.find("varnel/" + std::string(model.first) + " "), std::string::npos)
        << model.second << " finds:\n" << found.out << found.err;
  }

  // A raster queue set up from the driver list prints a PDF; the job speaks German.
  TempDir scratch;
  std::string document = MakeTestPdf(scratch, 3);
  ASSERT_FALSE(document.empty());
  std::string raster = cupsd.NewOutputDir("raster");
  WriteFile(raster + "/device-id", kDeviceIds[3].second);
  ASSERT_TRUE(cupsd.AddDriverQueue("raster", "capture:" + raster, "varnel/q7106mf.ppd")) << cupsd.ErrorLog();
  const std::vector<std::string> german = {"LANG=de_DE.UTF-8", "LC_ALL=de_DE.UTF-8", "LC_MESSAGES=de_DE.UTF-8"};
  int job = cupsd.Submit("raster", document, {"-o", "Duplex=DuplexNoTumble"}, german);
  ASSERT_GT(job, 0);
  ASSERT_TRUE(cupsd.WaitUntilIdle("raster", 180000)) << cupsd.ErrorLog();
  EXPECT_EQ(cupsd.JobState(job), IPP_JSTATE_COMPLETED) << cupsd.ErrorLog();
  std::string stream = raster + "/job-" + std::to_string(job) + ".prn";
  ProcessResult inspected = RunProgram(root.path() + "/usr/bin/varnel-inspect", {"--summary", stream});
  EXPECT_EQ(inspected.exit_status, 0) << inspected.out << inspected.err;
  EXPECT_NE(inspected.out.find("stream platform=Z "), std::string::npos) << inspected.out;
  EXPECT_NE(inspected.out.find(" pages=4\n"), std::string::npos) << "3 pages and a blank back side:\n" << inspected.out;
  EXPECT_NE(cupsd.ErrorLog().find("Drehen Sie die bedruckten Seiten um und legen Sie sie wieder ins Papierfach."),
            std::string::npos)
      << "the manual-duplex instruction in the job's language";

  // A PostScript queue.
  std::string postscript = cupsd.NewOutputDir("postscript");
  WriteFile(postscript + "/device-id", kDeviceIds[5].second);
  ASSERT_TRUE(cupsd.AddDriverQueue("postscript", "capture:" + postscript, "varnel/rxt415k2.ppd")) << cupsd.ErrorLog();
  job = cupsd.Submit("postscript", document, {"-o", "Duplex=DuplexNoTumble"});
  ASSERT_GT(job, 0);
  ASSERT_TRUE(cupsd.WaitUntilIdle("postscript", 180000)) << cupsd.ErrorLog();
  EXPECT_EQ(cupsd.JobState(job), IPP_JSTATE_COMPLETED) << cupsd.ErrorLog();
  std::string sent = ReadFile(postscript + "/job-" + std::to_string(job) + ".prn");
  EXPECT_NE(sent.find("@PJL SET DUPLEX=ENABLE\n@PJL SET BINDING=LONGEDGE\n"), std::string::npos) << sent.substr(0, 800);
  EXPECT_NE(sent.find("@PJL ENTER LANGUAGE=POSTSCRIPT\n%!PS"), std::string::npos);
}

// The application unpacked alone (without the driver package) runs from its root: it lists the
// raster models, and a server on a loopback port with scratch state prints a PDF (through
// Ghostscript) to a file: device, in a stream that the inspector of the driver package accepts.
TEST_F(DebianPackage, UnpackedApplicationListsTheRasterModelsAndPrints) {
  TempDir root;
  Unpack(app_deb_, root);
  const std::string program = root.path() + "/usr/bin/varnel-printer-app";
  AppServer server(program);

  std::set<std::string> raster_models, postscript_models;
  for (const auto& ppd : ListFiles(PpdPath(""))) {
    bool raster = ReadFile(PpdPath(ppd)).find("rastertoVarnel\"") != std::string::npos;
    (raster ? raster_models : postscript_models).insert(ppd.substr(0, ppd.size() - 4));
  }
  ASSERT_FALSE(raster_models.empty());
  ProcessResult drivers = server.Command({"drivers"});
  ASSERT_EQ(drivers.exit_status, 0) << drivers.out << drivers.err;
  std::set<std::string> listed;
  for (const auto& line : Lines(drivers.out)) listed.insert(line.substr(0, line.find(' ')));
  EXPECT_EQ(listed, raster_models) << drivers.out;

  ASSERT_TRUE(server.Start()) << server.error();
  ASSERT_TRUE(server.AddPrinter("office", "q7306mf")) << server.error();
  TempDir scratch;
  std::string document = MakeTestPdf(scratch, 3);
  ASSERT_FALSE(document.empty());
  int job = server.Print("office", document, "application/pdf", "document", {{"sides", "two-sided-long-edge"}});
  ASSERT_GT(job, 0) << server.error();
  JobResult result = server.WaitForJob("office", job);
  EXPECT_FALSE(result.timedOut);
  EXPECT_EQ(result.state, IPP_JSTATE_COMPLETED) << result.message << "\n" << server.Diagnostics();

  TempDir driver_root;
  Unpack(deb_, driver_root);
  std::string stream = scratch.File("document.prn");
  WriteFile(stream, server.Output("office", "document"));
  ProcessResult inspected = RunProgram(driver_root.path() + "/usr/bin/varnel-inspect", {"--summary", stream});
  EXPECT_EQ(inspected.exit_status, 0) << inspected.out << inspected.err;
  EXPECT_NE(inspected.out.find("stream platform=Z "), std::string::npos) << inspected.out;
  EXPECT_NE(inspected.out.find(" pages=4\n"), std::string::npos) << "3 pages and a blank back side:\n" << inspected.out;
  EXPECT_EQ(server.Stop(), 0) << server.Diagnostics();
}

}  // namespace
}  // namespace varnel_test
