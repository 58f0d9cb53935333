// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Page images compressed on worker threads while the page loop goes on reading and halftoning:
// the loop hands out an image as soon as its rows are in the bitmap and takes it back, in order,
// when the page is sent. Workers block every signal, so the filter's handlers (cancel, keep-alive)
// run on the page loop's thread, which alone writes to the printer.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "jbigCompress.h"

// How many rows of a bitmap the page loop has made, for an image that is compressed meanwhile
// (its encoder waits for the rows it reads next).
class RowProgress {
 public:
  void Reset();
  // The page loop: the first `rows` rows are in the bitmap (they are not written again).
  void Publish(unsigned long rows);
  // Nothing more will be made: every wait ends (the encoder's result is then thrown away).
  void Abandon();
  // The encoder: returns once `rows` rows are in, or the bitmap was abandoned.
  void WaitFor(unsigned long rows);

 private:
  std::mutex lock_;
  std::condition_variable more_;
  unsigned long rows_ = 0;
  bool abandoned_ = false;
};

// One image to compress: its JBIG parameters, its rows (which must stay unchanged until it is
// taken back) and, once done, the result. With progress set, the image is compressed while its
// rows are still being made.
struct ImageTask {
  JBIG_BIH bih{};
  const unsigned char* rows = nullptr;
  RowProgress* progress = nullptr;
  JbigImage image;
  bool done = false;  // guarded by the workers' lock
};

class CompressionWorkers {
 public:
  // threads 0: no workers, every image is compressed by Submit itself.
  explicit CompressionWorkers(unsigned threads);
  ~CompressionWorkers();
  CompressionWorkers(const CompressionWorkers&) = delete;
  CompressionWorkers& operator=(const CompressionWorkers&) = delete;

  unsigned Threads() const { return static_cast<unsigned>(workers_.size()); }
  // Queues the task (or compresses it now when there are no workers: a task with progress then
  // must have all its rows).
  void Submit(ImageTask* task);
  // Waits until the task is done.
  void Wait(ImageTask* task);

 private:
  void Work();

  std::mutex lock_;
  std::condition_variable work_;
  std::condition_variable done_;
  std::deque<ImageTask*> queue_;
  bool stop_ = false;
  std::vector<std::thread> workers_;
};

// Worker threads for a job: the VARNEL_THREADS environment setting when it is a number (1 runs
// everything on the page loop's thread, for comparison and debugging; N > 1 uses N workers), else
// one per processor core, at most 4 (none on a single core).
unsigned CompressionThreadsWanted();
