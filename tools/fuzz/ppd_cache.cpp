// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// libcups parses each PPD once per fuzzing process. The filters' calls to ppdOpenFile and
// ppdClose are linked to the wrappers below (-Wl,--wrap=ppdOpenFile,--wrap=ppdClose): the PPD of
// a path stays open and every open of that path gets it again. The PPDs are fixed fixtures, not
// what is fuzzed, and parsing one took most of a run. What a run marks in a PPD stays marked for
// the next run; the filters read default choices and attributes, which marking leaves alone.
#include <cups/ppd.h>

#include <map>
#include <string>

extern "C" ppd_file_t* __real_ppdOpenFile(const char* path);
extern "C" void __real_ppdClose(ppd_file_t* ppd);

namespace {

// Never destroyed: the PPDs stay reachable until the leak check at exit.
std::map<std::string, ppd_file_t*>& OpenPpds() {
  static auto* ppds = new std::map<std::string, ppd_file_t*>;
  return *ppds;
}

}  // namespace

extern "C" ppd_file_t* __wrap_ppdOpenFile(const char* path) {
  if (path == nullptr) return __real_ppdOpenFile(path);
  ppd_file_t*& ppd = OpenPpds()[path];
  if (ppd == nullptr) ppd = __real_ppdOpenFile(path);
  return ppd;
}

extern "C" void __wrap_ppdClose(ppd_file_t* ppd) {
  for (const auto& open : OpenPpds())
    if (open.second == ppd) return;
  __real_ppdClose(ppd);
}
