// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
/*
 * Test backend "capture": device URI capture:/FOLDER (optionally capture:/FOLDER?delay-ms=N).
 *
 * Writes each job's printer stream to FOLDER/job-ID.prn (through FOLDER/job-ID.part, renamed
 * once the stream has ended, so a test never reads half a job) and answers the side-channel
 * request for the IEEE 1284 device ID with the text of FOLDER/device-id, or of the variable
 * CAPTURE_DEVICE_ID when that file does not exist; with neither it answers "not implemented",
 * as a backend without a printer would. delay-ms slows the copy down per 4 KiB block so that a
 * test can cancel a job while its filters still run.
 *
 * Like the real backends it ignores SIGTERM while it copies: on a cancel the filters get the
 * chance to end their stream cleanly, and that end must reach the file.
 */
#include <cups/backend.h>
#include <cups/sidechannel.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

static void sleep_ms(long ms) {
  struct timespec pause = {ms / 1000, (ms % 1000) * 1000000L};
  while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
  }
}

/* Device ID from FOLDER/device-id, else from the environment; returns its length or -1. */
static int read_device_id(const char *folder, char *id, size_t capacity) {
  char path[1024];
  int length = snprintf(path, sizeof path, "%s/device-id", folder);
  FILE *file = length > 0 && (size_t)length < sizeof path ? fopen(path, "r") : NULL;
  if (file) {
    size_t n = fread(id, 1, capacity - 1, file);
    fclose(file);
    while (n > 0 && (id[n - 1] == '\n' || id[n - 1] == '\r')) n--;
    id[n] = '\0';
    return (int)n;
  }
  const char *text = getenv("CAPTURE_DEVICE_ID");
  if (!text) return -1;
  snprintf(id, capacity, "%s", text);
  return (int)strlen(id);
}

static void answer_side_channel(const char *folder) {
  cups_sc_command_t command;
  cups_sc_status_t status;
  char data[2048];
  int length = sizeof data;
  if (cupsSideChannelRead(&command, &status, data, &length, 1.0) != 0) return;
  if (command == CUPS_SC_CMD_GET_DEVICE_ID) {
    char id[1024];
    int n = read_device_id(folder, id, sizeof id);
    if (n < 0)
      cupsSideChannelWrite(command, CUPS_SC_STATUS_NOT_IMPLEMENTED, NULL, 0, 1.0);
    else
      cupsSideChannelWrite(command, CUPS_SC_STATUS_OK, id, n, 1.0);
  } else {
    cupsSideChannelWrite(command, CUPS_SC_STATUS_NOT_IMPLEMENTED, NULL, 0, 1.0);
  }
}

static int write_all(int fd, const char *data, ssize_t n) {
  while (n > 0) {
    ssize_t written = write(fd, data, (size_t)n);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return -1;
    data += written;
    n -= written;
  }
  return 0;
}

int main(int argc, char **argv) {
  if (argc == 1) { /* device discovery: this backend finds nothing by itself */
    return CUPS_BACKEND_OK;
  }
  if (argc < 6 || argc > 7) {
    fputs("Usage: capture job-id user title copies options [file]\n", stderr);
    return CUPS_BACKEND_FAILED;
  }
  const char *uri = cupsBackendDeviceURI(argv);
  if (!uri || strncmp(uri, "capture:", 8) != 0 || uri[8] != '/') {
    fprintf(stderr, "ERROR: capture: bad device URI \"%s\"\n", uri ? uri : "");
    return CUPS_BACKEND_FAILED;
  }
  char folder[1024];
  snprintf(folder, sizeof folder, "%s", uri + 8);
  long delay_ms = 0;
  char *query = strchr(folder, '?');
  if (query) {
    *query++ = '\0';
    if (strncmp(query, "delay-ms=", 9) == 0) delay_ms = strtol(query + 9, NULL, 10);
  }

  int in = 0;
  if (argc == 7) {
    in = open(argv[6], O_RDONLY);
    if (in < 0) {
      fprintf(stderr, "ERROR: capture: cannot open %s: %s\n", argv[6], strerror(errno));
      return CUPS_BACKEND_FAILED;
    }
  } else {
    signal(SIGTERM, SIG_IGN);
  }

  char part[1100], final_path[1100];
  snprintf(part, sizeof part, "%s/job-%s.part", folder, argv[1]);
  snprintf(final_path, sizeof final_path, "%s/job-%s.prn", folder, argv[1]);
  int out = open(part, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (out < 0) {
    fprintf(stderr, "ERROR: capture: cannot create %s: %s\n", part, strerror(errno));
    return CUPS_BACKEND_FAILED;
  }

  struct pollfd watched[2] = {{in, POLLIN, 0}, {CUPS_SC_FD, POLLIN, 0}};
  int failed = 0;
  for (;;) {
    if (poll(watched, 2, -1) < 0) {
      if (errno == EINTR) continue;
      failed = 1;
      break;
    }
    if (watched[1].revents & POLLIN)
      answer_side_channel(folder);
    else if (watched[1].revents)
      watched[1].fd = -1; /* no side channel here, or the filter closed it */
    if (watched[0].revents) {
      char block[4096];
      ssize_t n = read(in, block, sizeof block);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        failed = n < 0;
        break;
      }
      if (write_all(out, block, n) != 0) {
        failed = 1;
        break;
      }
      if (delay_ms > 0) sleep_ms(delay_ms);
    }
  }
  if (close(out) != 0) failed = 1;
  if (in != 0) close(in);
  if (rename(part, final_path) != 0) failed = 1;
  if (failed) fprintf(stderr, "ERROR: capture: copying the job failed: %s\n", strerror(errno));
  return failed ? CUPS_BACKEND_FAILED : CUPS_BACKEND_OK;
}
