// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// The generated model table and the lookups on it.
#include "models.h"

#include <strings.h>

#include <cstring>
#include <string>

#include "prnt.h"

const VARNEL_MODEL gVarnelModels[] = {
#include "varnel_models.inc"
};
const size_t gVarnelModelCount = sizeof gVarnelModels / sizeof gVarnelModels[0];

const VARNEL_MODEL* FindModel(const char* driverName) {
  if (driverName == nullptr) return nullptr;
  for (const VARNEL_MODEL& model : gVarnelModels)
    if (strcmp(model.driverName, driverName) == 0) return &model;
  return nullptr;
}

bool ModelOffers(const VARNEL_MODEL* model, FuncName func) { return (model->offeredFuncs >> func) & 1u; }

PAPER_SIZE_INFO* ModelPaperTable(const VARNEL_MODEL* model) {
  int platform = PLATFORM_UNKNOWN;
  PAPER_SIZE_INFO* table = GetPaperSizeArray(const_cast<char*>(model->modelName), &platform);
  return table != nullptr ? table : GetPlatformPaperArray(model->platform);
}

namespace {

std::string Trim(const std::string& text) {
  size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  size_t last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

// The value of the first of the keys present in a device ID ("KEY:value;" pairs), or "".
std::string IdValue(const char* deviceId, const char* key, const char* longKey) {
  std::string id = deviceId;
  size_t start = 0;
  while (start < id.size()) {
    size_t end = id.find(';', start);
    if (end == std::string::npos) end = id.size();
    std::string pair = id.substr(start, end - start);
    size_t colon = pair.find(':');
    if (colon != std::string::npos) {
      std::string name = Trim(pair.substr(0, colon));
      if (!strcasecmp(name.c_str(), key) || !strcasecmp(name.c_str(), longKey)) return Trim(pair.substr(colon + 1));
    }
    start = end + 1;
  }
  return "";
}

}  // namespace

bool DeviceIdMatches(const char* deviceId, const VARNEL_MODEL* model) {
  if (deviceId == nullptr || model == nullptr) return false;
  std::string make = IdValue(deviceId, "MFG", "MANUFACTURER");
  std::string name = IdValue(deviceId, "MDL", "MODEL");
  if (make.empty() || name.empty()) return false;
  return !strcasecmp(make.c_str(), IdValue(model->deviceId, "MFG", "MANUFACTURER").c_str()) &&
         !strcasecmp(name.c_str(), IdValue(model->deviceId, "MDL", "MODEL").c_str());
}

const char* DriverForDeviceId(const char* deviceId) {
  for (const VARNEL_MODEL& model : gVarnelModels)
    if (DeviceIdMatches(deviceId, &model)) return model.driverName;
  return nullptr;
}
