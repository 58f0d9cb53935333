// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// CUPS functions reached through pointers (bound from the libraries loaded at run time, or from
// the linked copies), the supported-device check and the filter's two signal handlers.
#pragma once

#include <cups/cups.h>
#include <cups/ppd.h>
#include <cups/raster.h>
#include <cups/sidechannel.h>

extern void* m_hCUPS;
extern void* m_hCUPSImage;

extern void (*pfppdClose)(ppd_file_t* ppd);
extern ppd_file_t* (*pfppdOpenFile)(const char* filename);
extern const char* (*pfppdLocalizeIPPReason)(ppd_file_t* ppd, const char* reason, const char* scheme,
                                             char* buffer, size_t bufsize);
extern const char* (*pfcupsGetOption)(const char* name, int num_options, cups_option_t* options);
extern int (*pfcupsParseOptions)(const char* arg, int num_options, cups_option_t** options);
extern cups_sc_status_t (*pfcupsSideChannelDoRequest)(cups_sc_command_t command, char* data,
                                                      int* datalen, double timeout);
extern int (*pfcupsTempFd)(char* filename, int len);

extern unsigned (*pfcupsRasterReadPixels)(cups_raster_t* r, unsigned char* p, unsigned len);
extern void (*pfcupsRasterClose)(cups_raster_t* r);
extern unsigned (*pfcupsRasterReadHeader2)(cups_raster_t* r, cups_page_header2_t* h);
extern cups_raster_t* (*pfcupsRasterOpen)(int fd, cups_mode_t mode);
// Opens a raster stream over a read callback, so that input can be read in large blocks.
extern cups_raster_t* (*pfcupsRasterOpenIO)(cups_raster_iocb_t iocb, void* ctx, cups_mode_t mode);

// Bind the CUPS (InitCUPSDLL) and CUPS imaging (InitCUPSIMAGEDLL) pointers. 1 when they come
// from the library loaded by path, 0 when they are the linked functions. A name missing from a
// library that did load is taken from the linked copy.
int InitCUPSDLL(void);
int InitCUPSIMAGEDLL(void);
// The same binding from a library at an explicit path (the two functions above use the
// system paths).
int BindCUPSFunctions(const char* libraryPath);
int BindCUPSImageFunctions(const char* libraryPath);
// Closes the loaded libraries and clears their handles.
void CloseCUPSDLL(void);

typedef struct _PrinterInfo {
  char shortNickName[64];
  char mfg[64];
  char mdl[64];
  char cls[64];
  char des[64];
} PrinterInfo;

extern const PrinterInfo printerInfoList[];
extern const int printerInfoListSize;

// Asks the backend over the side channel for the IEEE 1284 device ID. device_id must hold 513
// bytes. 1 on success (device_id is then terminated), 0 on failure (device_id is empty).
int query_1284_device_id(char* device_id, int* device_id_len);
// True when the printer behind the job is one of the supported devices: by its device ID when the
// backend gives one, otherwise by the PPD's ShortNickName.
bool checkPrinter1284(const char* shortNickName);
// The device-ID test alone: the ID contains the four parts of one supported row.
bool isSupportedDeviceId(const char* deviceId);
bool isSupportedShortNickName(const char* shortNickName);

// SIGTERM handler: cancels the job (Canceled = 1) and wakes a wait of the functions below.
void CancelJob(int sig);
// SIGALRM handler: the keep-alive filler, two zero bytes on the printer output, only while
// g_ismiddlepage is 0.
void SendDummyCommand(void);
// Installs CancelJob for SIGTERM.
void InstallCancelHandler(void);
// Waits until fd (-1: nothing) is readable, at most timeoutMs (< 0: no limit), and ends at once
// when the job is cancelled. 1 readable (or poll failed: the caller's read reports it), 0 time-out,
// -1 cancelled.
int WaitReadableUnlessCanceled(int fd, long timeoutMs);
// Sleeps ms milliseconds unless the job is cancelled first. 1 when it slept the whole time.
int SleepUnlessCanceled(long ms);
// Installs SendDummyCommand for SIGALRM and arms the keep-alive timer: first expiry and period
// intervalMs (the job uses 10 s).
void StartKeepAlive(long intervalMs);
