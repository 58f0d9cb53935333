// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>
#include <dlfcn.h>
#include <unistd.h>

#include <string>

#include "cupsdll.h"

namespace {

const char kSystemCups[] = "/usr/lib/x86_64-linux-gnu/libcups.so.2";

class CupsBinding : public ::testing::Test {
 protected:
  void TearDown() override { CloseCUPSDLL(); }
};

TEST_F(CupsBinding, LibraryLoadedByPathProvidesThePointers) {
  if (access(kSystemCups, R_OK) != 0) GTEST_SKIP() << kSystemCups << " is not on this machine";
  ASSERT_EQ(BindCUPSFunctions(kSystemCups), 1);
  ASSERT_NE(m_hCUPS, nullptr);
  EXPECT_EQ(reinterpret_cast<void*>(pfcupsParseOptions), dlsym(m_hCUPS, "cupsParseOptions"));
  EXPECT_EQ(reinterpret_cast<void*>(pfppdOpenFile), dlsym(m_hCUPS, "ppdOpenFile"));
  EXPECT_EQ(reinterpret_cast<void*>(pfcupsTempFd), dlsym(m_hCUPS, "cupsTempFd"));
  cups_option_t* options = nullptr;
  int count = pfcupsParseOptions("Duplex=DuplexTumble", 0, &options);
  EXPECT_STREQ(pfcupsGetOption("Duplex", count, options), "DuplexTumble");
  cupsFreeOptions(count, options);
  CloseCUPSDLL();
  EXPECT_EQ(m_hCUPS, nullptr);
}

// A library that loads but lacks the names: every pointer falls back to the linked function
// instead of staying empty.
TEST_F(CupsBinding, NameMissingFromLoadedLibraryFallsBackToLinkedFunction) {
  Dl_info info;
  ASSERT_NE(dladdr(reinterpret_cast<void*>(&dlopen), &info), 0);
  std::string unrelated = info.dli_fname;  // the dynamic loader's library has no CUPS names
  ASSERT_EQ(BindCUPSFunctions(unrelated.c_str()), 1);
  EXPECT_NE(m_hCUPS, nullptr);
  EXPECT_EQ(pfppdClose, &ppdClose);
  EXPECT_EQ(pfppdOpenFile, &ppdOpenFile);
  EXPECT_EQ(pfcupsGetOption, &cupsGetOption);
  EXPECT_EQ(pfcupsParseOptions, &cupsParseOptions);
  EXPECT_EQ(pfcupsSideChannelDoRequest, &cupsSideChannelDoRequest);
  EXPECT_EQ(pfcupsTempFd, &cupsTempFd);
  ASSERT_EQ(BindCUPSImageFunctions(unrelated.c_str()), 1);
  EXPECT_EQ(pfcupsRasterReadPixels, &cupsRasterReadPixels);
  EXPECT_EQ(pfcupsRasterClose, &cupsRasterClose);
  EXPECT_EQ(pfcupsRasterReadHeader2, &cupsRasterReadHeader2);
  EXPECT_EQ(pfcupsRasterOpen, &cupsRasterOpen);
  EXPECT_EQ(pfcupsRasterOpenIO, &cupsRasterOpenIO);
}

TEST_F(CupsBinding, LibraryThatDoesNotLoadGivesTheLinkedFunctions) {
  EXPECT_EQ(BindCUPSFunctions("/nonexistent/libcups.so"), 0);
  EXPECT_EQ(m_hCUPS, nullptr);
  EXPECT_EQ(pfcupsParseOptions, &cupsParseOptions);
  EXPECT_EQ(BindCUPSImageFunctions("/nonexistent/libcupsimage.so"), 0);
  EXPECT_EQ(m_hCUPSImage, nullptr);
  EXPECT_EQ(pfcupsRasterOpenIO, &cupsRasterOpenIO);
}

TEST_F(CupsBinding, InitBindsEveryPointer) {
  InitCUPSIMAGEDLL();
  InitCUPSDLL();
  EXPECT_NE(pfppdClose, nullptr);
  EXPECT_NE(pfppdLocalizeIPPReason, nullptr);
  EXPECT_NE(pfcupsSideChannelDoRequest, nullptr);
  EXPECT_NE(pfcupsRasterReadHeader2, nullptr);
  EXPECT_NE(pfcupsRasterClose, nullptr);
}

struct DeviceIdCase {
  const char* id;
  bool supported;
};

TEST(DeviceCheck, DeviceIdMustContainTheFourPartsOfOneRow) {
  const DeviceIdCase cases[] = {
      {"MFG:R&X;MDL:RXT30441 series;CLS:PRINTER;DES:R&X RXT30441 series;", true},
      {"DES:R&X RXT30441 series;CMD:GDI;CLS:PRINTER;MDL:RXT30441 series;SN:1;MFG:R&X;", true},
      {"MFG:R&X;MDL:RXT30441 series;DES:R&X RXT30441 series;", false},  // no CLS
      {"MFG:r&x;MDL:RXT30441 series;CLS:PRINTER;DES:R&X RXT30441 series;", false},  // case-sensitive
      {"MFG:VOLTRAN ISKELA;MDL:quilon7306MF series;CLS:PRINTER;DES:VOLTRAN ISKELA quilon7306MF series;", true},
      {"MFG:PRUL;MDL:PRLM6100N-series;CLS:PRINTER;DES:PRUL-PRLM6100N-series;", true},
      // parts of two different rows
      {"MFG:R&X;MDL:RXT30442 series;CLS:PRINTER;DES:R&X RXT30441 series;", false},
      {"MFG:Varnel;MDL:K8388 Series;CLS:PRINTER;", false},
      {"MFG:NULL;MDL:NULL;CLS:NULL;DES:NULL;NULL", false},  // the sentinel never matches
      {"", false},
  };
  for (const DeviceIdCase& c : cases) EXPECT_EQ(isSupportedDeviceId(c.id), c.supported) << c.id;
}

TEST(DeviceCheck, ShortNickNameComparedWithoutCase) {
  const DeviceIdCase cases[] = {
      {"RXT30441 Series", true}, {"rxt30441 series", true}, {"RXT30441", false},
      {"quilon 7106MF-Series", true}, {"NULL", false},        {"", false},
  };
  for (const DeviceIdCase& c : cases) EXPECT_EQ(isSupportedShortNickName(c.id), c.supported) << c.id;
}

}  // namespace
