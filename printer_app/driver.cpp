// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// The PAPPL driver of every raster model.
#include "driver.h"

#include <cstring>
#include <string>

#include "job_options.h"
#include "media.h"
#include "models.h"
#include "prnt.h"
#include "raster_job.h"

namespace {

const int kPagesPerMinute = 20;

// Media names live as long as the process: PAPPL keeps the pointers of the driver data.
const MEDIA_LIST& ModelMedia(const VARNEL_MODEL* model) {
  static const std::vector<MEDIA_LIST> lists = [] {
    std::vector<MEDIA_LIST> all;
    for (size_t i = 0; i < gVarnelModelCount; ++i) all.push_back(MediaFromPaperTable(ModelPaperTable(&gVarnelModels[i])));
    return all;
  }();
  return lists[static_cast<size_t>(model - gVarnelModels)];
}

void FillMediaCol(pappl_media_col_t* col, const MEDIA_LIST& media, const MEDIA_SIZE& size, const char* source) {
  memset(col, 0, sizeof *col);
  pwg_media_t* pwg = pwgMediaForPWG(size.pwgName.c_str());
  snprintf(col->size_name, sizeof col->size_name, "%s", size.pwgName.c_str());
  col->size_width = pwg != nullptr ? pwg->width : 0;
  col->size_length = pwg != nullptr ? pwg->length : 0;
  col->left_margin = col->right_margin = media.leftRight;
  col->top_margin = col->bottom_margin = media.bottomTop;
  snprintf(col->source, sizeof col->source, "%s", source);
  snprintf(col->type, sizeof col->type, "%s", "stationery");
}

void FillMedia(const VARNEL_MODEL* model, pappl_pr_driver_data_t* data) {
  const MEDIA_LIST& media = ModelMedia(model);
  data->left_right = media.leftRight;
  data->bottom_top = media.bottomTop;
  data->num_media = 0;
  for (const MEDIA_SIZE& size : media.sizes)
    if (data->num_media < PAPPL_MAX_MEDIA - 2) data->media[data->num_media++] = size.pwgName.c_str();
  if (!media.customMin.empty()) {
    data->media[data->num_media++] = media.customMax.c_str();
    data->media[data->num_media++] = media.customMin.c_str();
  }
  data->num_type = 1;
  data->type[0] = "stationery";

  // The PPD's default page size, else the first size of the table.
  const MEDIA_SIZE* defaultSize = media.sizes.empty() ? nullptr : &media.sizes[0];
  for (const MEDIA_SIZE& size : media.sizes)
    if (size.pointsW == model->defaultPageW && size.pointsH == model->defaultPageH) defaultSize = &size;

  std::vector<const char*> sources = MediaSources(model);
  if (sources.empty()) sources.push_back(MediaSourceForInputSlot(0));
  data->num_source = 0;
  for (const char* source : sources) {
    if (data->num_source >= PAPPL_MAX_SOURCE) break;
    data->source[data->num_source] = source;
    if (defaultSize != nullptr) FillMediaCol(&data->media_ready[data->num_source], media, *defaultSize, source);
    ++data->num_source;
  }
  const char* defaultSource = MediaSourceForInputSlot(model->funcDefaults[INPUTSLOT]);
  data->media_default = data->media_ready[0];
  for (int i = 0; i < data->num_source; ++i)
    if (strcmp(data->source[i], defaultSource) == 0) data->media_default = data->media_ready[i];
}

// A document whose format the application could not tell. PAPPL hands such a job, and only such
// a job, to the driver's "raw" printing: the job ends with an error, and nothing is sent.
bool RefuseUnknownDocument(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*) {
  const char message[] = "The document is not in a format that this printer prints (PDF, PWG or Apple raster, JPEG, PNG).";
  papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", message);
  papplJobSetMessage(job, "%s", message);
  papplJobSetReasons(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, PAPPL_JREASON_NONE);
  return false;
}

void AddVendorBoolean(pappl_pr_driver_data_t* data, ipp_t* attrs, const char* name, bool value) {
  if (data->num_vendor >= PAPPL_MAX_VENDOR) return;
  data->vendor[data->num_vendor++] = name;
  ippAddBoolean(attrs, IPP_TAG_PRINTER, (std::string(name) + "-supported").c_str(), 1);
  ippAddBoolean(attrs, IPP_TAG_PRINTER, (std::string(name) + "-default").c_str(), value ? 1 : 0);
}

}  // namespace

std::vector<pappl_pr_driver_t> VarnelDrivers() {
  std::vector<pappl_pr_driver_t> drivers;
  for (size_t i = 0; i < gVarnelModelCount; ++i)
    drivers.push_back({gVarnelModels[i].driverName, gVarnelModels[i].makeAndModel, gVarnelModels[i].deviceId, nullptr});
  return drivers;
}

const char* VarnelAutoAddCallback(const char*, const char*, const char* device_id, void*) {
  return DriverForDeviceId(device_id);
}

bool VarnelDriverCallback(pappl_system_t*, const char* driver_name, const char*, const char*,
                          pappl_pr_driver_data_t* data, ipp_t** attrs, void*) {
  const VARNEL_MODEL* model = FindModel(driver_name);
  if (model == nullptr) return false;

  SetRasterCallbacks(data);
  // PAPPL compares every job's format with the driver's (it must be set): a job of a format
  // without a filter then ends as "Unable to process job with format", and one of a format that
  // could not be told goes to RefuseUnknownDocument.
  data->format = "application/octet-stream";
  data->printfile_cb = RefuseUnknownDocument;
  snprintf(data->make_and_model, sizeof data->make_and_model, "%s", model->makeAndModel);
  data->ppm = kPagesPerMinute;
  data->kind = PAPPL_KIND_DOCUMENT | PAPPL_KIND_ENVELOPE | PAPPL_KIND_POSTCARD;
  data->input_face_up = false;
  data->output_face_up = false;

  data->color_supported = PAPPL_COLOR_MODE_AUTO | PAPPL_COLOR_MODE_MONOCHROME;
  data->color_default = PAPPL_COLOR_MODE_MONOCHROME;
  data->raster_types = PAPPL_PWG_RASTER_TYPE_SGRAY_8 | PAPPL_PWG_RASTER_TYPE_BLACK_8;
  data->force_raster_type = PAPPL_PWG_RASTER_TYPE_NONE;

  // Resolutions: 600 dpi, and 1200 dpi where the model's 1200-dpi mode takes such rasters.
  data->num_resolution = 1;
  data->x_resolution[0] = data->y_resolution[0] = 600;
  if (model->raster1200 && ModelOffers(model, DPI1200)) {
    data->num_resolution = 2;
    data->x_resolution[1] = data->y_resolution[1] = 1200;
  }
  data->x_default = data->y_default = model->raster1200 && model->funcDefaults[DPI1200] ? 1200 : 600;

  // Back sides are turned by the driver itself, so the document's back sides come as they are.
  data->duplex = PAPPL_DUPLEX_NORMAL;
  data->sides_supported = PAPPL_SIDES_ONE_SIDED;
  if (ModelOffers(model, AUTODUPLEX))
    data->sides_supported |= PAPPL_SIDES_TWO_SIDED_LONG_EDGE | PAPPL_SIDES_TWO_SIDED_SHORT_EDGE;
  data->sides_default = model->funcDefaults[AUTODUPLEX] == 1   ? PAPPL_SIDES_TWO_SIDED_LONG_EDGE
                        : model->funcDefaults[AUTODUPLEX] == 2 ? PAPPL_SIDES_TWO_SIDED_SHORT_EDGE
                                                                : PAPPL_SIDES_ONE_SIDED;

  data->quality_default = model->funcDefaults[TONERMODE]  ? IPP_QUALITY_DRAFT
                          : model->funcDefaults[DPI1200] ? IPP_QUALITY_HIGH
                                                          : IPP_QUALITY_NORMAL;
  data->orient_default = IPP_ORIENT_PORTRAIT;
  data->content_default = PAPPL_CONTENT_AUTO;
  data->scaling_default = PAPPL_SCALING_AUTO;

  if (ModelOffers(model, DENSITY)) {
    data->darkness_supported = static_cast<int>(DensityLevels(model).size());
    data->darkness_configured = DarknessForDefaultDensity(model);
    data->darkness_default = 0;
  }

  FillMedia(model, data);

  *attrs = ippNew();
  data->num_vendor = 0;
  if (ModelOffers(model, NEGATIVEPRINT))
    AddVendorBoolean(data, *attrs, kVendorNegativePrint, model->funcDefaults[NEGATIVEPRINT] != 0);
  if (ModelOffers(model, IMAGEROTATION))
    AddVendorBoolean(data, *attrs, kVendorRotateBackSides, model->funcDefaults[IMAGEROTATION] != 0);
  if (ModelOffers(model, MANUALDUPLEX))
    AddVendorBoolean(data, *attrs, kVendorManualDuplex, model->funcDefaults[MANUALDUPLEX] != 0);
  return true;
}
