// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// `cmake --install` of this build: into a chosen prefix and staged with DESTDIR, nothing lands
// outside, the programs keep their modes, the installed filters print from where they were put,
// and the uninstall target removes a staged install where it was staged.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

#include "cups_support.h"
#include "test_support.h"

namespace varnel_test {
namespace {

// What an install of the driver holds, relative to the prefix.
std::vector<std::string> ExpectedFiles() {
  std::vector<std::string> files = {
      std::string(VARNEL_INSTALL_FILTERDIR) + "/rastertoVarnel",
      std::string(VARNEL_INSTALL_FILTERDIR) + "/pstoVarnel",
      std::string(INSTALL_BINDIR) + "/varnel-inspect",
      std::string(INSTALL_MANDIR) + "/man1/varnel-inspect.1",
      std::string(INSTALL_MANDIR) + "/man8/rastertoVarnel.8",
      std::string(INSTALL_MANDIR) + "/man8/pstoVarnel.8",
  };
  for (const auto& ppd : ListFiles(PpdPath(""))) files.push_back(std::string(VARNEL_INSTALL_PPDDIR) + "/" + ppd);
#ifdef VARNEL_INSTALL_SYSTEMDUNITDIR
  files.push_back(std::string(INSTALL_BINDIR) + "/varnel-printer-app");
  files.push_back(std::string(INSTALL_MANDIR) + "/man1/varnel-printer-app.1");
  files.push_back(std::string(VARNEL_INSTALL_SYSTEMDUNITDIR) + "/varnel-printer-app.service");
#endif
  std::sort(files.begin(), files.end());
  return files;
}

#ifdef VARNEL_INSTALL_SYSTEMDUNITDIR
// The Printer Application's unit starts the program where this install put it.
void ExpectServiceStarts(const std::string& unit, const std::string& prefix) {
  std::string text = ReadFile(unit);
  EXPECT_NE(text.find("\nExecStart=" + prefix + "/" + INSTALL_BINDIR + "/varnel-printer-app server "), std::string::npos)
      << text;
}
#endif

std::vector<std::string> Under(const std::string& folder, std::vector<std::string> files) {
  for (auto& file : files) file = folder + "/" + file;
  return files;
}

ProcessResult Install(const std::vector<std::string>& extra, const std::vector<std::string>& env = {}) {
  std::vector<std::string> args = {"--install", BuildPath("")};
  args.insert(args.end(), extra.begin(), extra.end());
  RunOptions options;
  options.env = env;
  options.unset_env = {"DESTDIR"};
  return RunProgram(CMAKE_COMMAND, args, options);
}

std::vector<std::string> Manifest() {
  std::vector<std::string> lines;
  std::string text = ReadFile(BuildPath("install_manifest.txt"));
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    if (end > start) lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  std::sort(lines.begin(), lines.end());
  return lines;
}

unsigned Mode(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

TEST(Install, PrefixHoldsEverythingAndTheInstalledFiltersPrint) {
  TempDir dir;
  const std::string prefix = dir.path() + "/opt/varnel";
  ProcessResult installed = Install({"--prefix", prefix});
  ASSERT_EQ(installed.exit_status, 0) << installed.out << installed.err;
  const std::vector<std::string> expected = ExpectedFiles();
  EXPECT_EQ(FilesUnder(dir.path()), Under("opt/varnel", expected)) << "only the driver's files, only under the prefix";
  EXPECT_EQ(Manifest(), Under(prefix, expected));
  for (const char* program : {"/rastertoVarnel", "/pstoVarnel"})
    EXPECT_EQ(Mode(prefix + "/" + VARNEL_INSTALL_FILTERDIR + program), 0755u) << program;
  EXPECT_EQ(Mode(prefix + "/" + INSTALL_BINDIR + "/varnel-inspect"), 0755u);
  EXPECT_EQ(Mode(prefix + "/" + VARNEL_INSTALL_PPDDIR + "/q7306mf.ppd"), 0644u);
#ifdef VARNEL_INSTALL_SYSTEMDUNITDIR
  EXPECT_EQ(Mode(prefix + "/" + INSTALL_BINDIR + "/varnel-printer-app"), 0755u);
  ExpectServiceStarts(prefix + "/" + VARNEL_INSTALL_SYSTEMDUNITDIR + "/varnel-printer-app.service", prefix);
#endif

  // The installed filters with the installed PPDs, through the stock CUPS chains.
  CupsfilterChain chain(prefix + "/" + VARNEL_INSTALL_FILTERDIR);
  ChainJob raster;
  raster.ppd = prefix + "/" + VARNEL_INSTALL_PPDDIR + "/q7306mf.ppd";
  raster.input = MakeTestPdf(dir, 2);
  ASSERT_FALSE(raster.input.empty());
  ProcessResult printed = chain.Run(raster);
  ASSERT_EQ(printed.exit_status, 0) << printed.err;
  WriteFile(dir.File("job.prn"), printed.out);
  ProcessResult inspected = RunProgram(prefix + "/" + INSTALL_BINDIR + "/varnel-inspect", {"--summary", dir.File("job.prn")});
  EXPECT_EQ(inspected.exit_status, 0) << inspected.out << inspected.err;
  EXPECT_NE(inspected.out.find("stream platform=Z "), std::string::npos) << inspected.out;
  EXPECT_NE(inspected.out.find(" pages=2\n"), std::string::npos) << inspected.out;

  ChainJob postscript = raster;
  postscript.ppd = prefix + "/" + VARNEL_INSTALL_PPDDIR + "/rxt415k2.ppd";
  ProcessResult sent = chain.Run(postscript);
  ASSERT_EQ(sent.exit_status, 0) << sent.err;
  EXPECT_NE(sent.out.find("@PJL SET USERNAME=\"alice\"\n"), std::string::npos);
  EXPECT_NE(sent.out.find("@PJL ENTER LANGUAGE=POSTSCRIPT\n%!PS"), std::string::npos);
}

TEST(Install, DestdirStagesUnderThePrefixAndUninstallRemovesTheStagedFiles) {
  TempDir stage;
  ProcessResult installed = Install({}, {"DESTDIR=" + stage.path()});
  ASSERT_EQ(installed.exit_status, 0) << installed.out << installed.err;
  const std::string prefix = CONFIGURED_PREFIX;
  EXPECT_EQ(FilesUnder(stage.path()), Under(prefix.substr(1), ExpectedFiles()));
#ifdef VARNEL_INSTALL_SYSTEMDUNITDIR
  // Staged, the unit still names the program's final place, without the stage.
  ExpectServiceStarts(stage.path() + prefix + "/" + VARNEL_INSTALL_SYSTEMDUNITDIR + "/varnel-printer-app.service", prefix);
#endif
  // The manifest names the installed paths without DESTDIR, as CMake writes it...
  EXPECT_EQ(Manifest(), Under(prefix, ExpectedFiles()));

  // ...and uninstalling removes them from the stage, where they were put.
  ProcessResult removed = RunProgram(CMAKE_COMMAND, {"-DBUILD_DIR=" + BuildPath(""), "-P", SourcePath("cmake/uninstall.cmake")});
  ASSERT_EQ(removed.exit_status, 0) << removed.out << removed.err;
  EXPECT_EQ(FilesUnder(stage.path()), std::vector<std::string>{});
  EXPECT_NE(removed.out.find("Removing " + stage.path() + prefix + "/"), std::string::npos) << removed.out;
}

}  // namespace
}  // namespace varnel_test
