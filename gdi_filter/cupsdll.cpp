// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Binding of the CUPS function pointers: from the CUPS libraries loaded by path when they are
// there, otherwise (or for any name a loaded library lacks) from the linked copies.
#include "cupsdll.h"

#include <dlfcn.h>

void* m_hCUPS = nullptr;
void* m_hCUPSImage = nullptr;

void (*pfppdClose)(ppd_file_t*) = nullptr;
ppd_file_t* (*pfppdOpenFile)(const char*) = nullptr;
const char* (*pfppdLocalizeIPPReason)(ppd_file_t*, const char*, const char*, char*, size_t) = nullptr;
const char* (*pfcupsGetOption)(const char*, int, cups_option_t*) = nullptr;
int (*pfcupsParseOptions)(const char*, int, cups_option_t**) = nullptr;
cups_sc_status_t (*pfcupsSideChannelDoRequest)(cups_sc_command_t, char*, int*, double) = nullptr;
int (*pfcupsTempFd)(char*, int) = nullptr;

unsigned (*pfcupsRasterReadPixels)(cups_raster_t*, unsigned char*, unsigned) = nullptr;
void (*pfcupsRasterClose)(cups_raster_t*) = nullptr;
unsigned (*pfcupsRasterReadHeader2)(cups_raster_t*, cups_page_header2_t*) = nullptr;
cups_raster_t* (*pfcupsRasterOpen)(int, cups_mode_t) = nullptr;
cups_raster_t* (*pfcupsRasterOpenIO)(cups_raster_iocb_t, void*, cups_mode_t) = nullptr;

namespace {

const char kCupsLibraryPath[] = "/usr/lib/libcups.so";
const char kCupsImageLibraryPath[] = "/usr/lib/libcupsimage.so";

// Looks the name up in the loaded library; the linked function when the library lacks it.
template <typename Function>
void Bind(void* library, const char* name, Function** pointer, Function* linked) {
  void* found = library != nullptr ? dlsym(library, name) : nullptr;
  *pointer = found != nullptr ? reinterpret_cast<Function*>(found) : linked;
}

void* Reload(void** handle, const char* path) {
  if (*handle != nullptr) {
    dlclose(*handle);
    *handle = nullptr;
  }
  if (path != nullptr) *handle = dlopen(path, RTLD_LAZY);
  return *handle;
}

}  // namespace

int BindCUPSFunctions(const char* libraryPath) {
  void* library = Reload(&m_hCUPS, libraryPath);
  Bind(library, "ppdClose", &pfppdClose, &ppdClose);
  Bind(library, "ppdOpenFile", &pfppdOpenFile, &ppdOpenFile);
  Bind(library, "ppdLocalizeIPPReason", &pfppdLocalizeIPPReason, &ppdLocalizeIPPReason);
  Bind(library, "cupsGetOption", &pfcupsGetOption, &cupsGetOption);
  Bind(library, "cupsParseOptions", &pfcupsParseOptions, &cupsParseOptions);
  Bind(library, "cupsSideChannelDoRequest", &pfcupsSideChannelDoRequest, &cupsSideChannelDoRequest);
  Bind(library, "cupsTempFd", &pfcupsTempFd, &cupsTempFd);
  return library != nullptr ? 1 : 0;
}

int BindCUPSImageFunctions(const char* libraryPath) {
  void* library = Reload(&m_hCUPSImage, libraryPath);
  Bind(library, "cupsRasterReadPixels", &pfcupsRasterReadPixels, &cupsRasterReadPixels);
  Bind(library, "cupsRasterClose", &pfcupsRasterClose, &cupsRasterClose);
  Bind(library, "cupsRasterReadHeader2", &pfcupsRasterReadHeader2, &cupsRasterReadHeader2);
  Bind(library, "cupsRasterOpen", &pfcupsRasterOpen, &cupsRasterOpen);
  Bind(library, "cupsRasterOpenIO", &pfcupsRasterOpenIO, &cupsRasterOpenIO);
  return library != nullptr ? 1 : 0;
}

int InitCUPSDLL(void) { return BindCUPSFunctions(kCupsLibraryPath); }

int InitCUPSIMAGEDLL(void) { return BindCUPSImageFunctions(kCupsImageLibraryPath); }

void CloseCUPSDLL(void) {
  Reload(&m_hCUPS, nullptr);
  Reload(&m_hCUPSImage, nullptr);
}
