// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Page images compressed on worker threads while the page loop goes on reading and halftoning:
// the loop hands out an image as soon as its rows are in the bitmap (or, on C and M, as soon as
// the page starts: its encoder then reads each stripe of rows once the loop has made it) and
// takes it back, in order, when the page is sent. Rows an encoder is done with give their memory
// back at once, so a job holds little more than the rows in flight. Workers block every signal,
// so the filter's handlers (cancel, keep-alive) run on the page loop's thread, which alone writes
// to the printer.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "jbigCompress.h"

// The rows of a bitmap between the page loop, which makes them from the top down, and an encoder
// that compresses them meanwhile.
class RowProgress {
 public:
  // A new page: height rows of rowBytes at bitmap, none made, none read.
  void Reset(unsigned char* bitmap, size_t rowBytes, unsigned long height);
  // The page loop: the first `rows` rows are made (they are not written again).
  void Publish(unsigned long rows);
  // The page loop: waits until the encoder has read past row `rows`, or is finished. Returns the
  // rows it is past.
  unsigned long WaitConsumed(unsigned long rows);
  // Nothing more will be made: every wait ends (the encoder's result is then thrown away).
  void Abandon();
  // The encoder: returns once `rows` rows are made, or the bitmap was abandoned.
  void WaitFor(unsigned long rows);
  // The encoder: it has encoded the first `rows` rows; those it will not read again (all but the
  // last two, which the next stripe's context looks at) give their memory back.
  void Consumed(unsigned long rows);
  // The encoder is done: the whole bitmap gives its memory back.
  void Finished();

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  unsigned char* bitmap_ = nullptr;
  size_t rowBytes_ = 0;
  unsigned long height_ = 0;
  unsigned long made_ = 0;
  unsigned long consumed_ = 0;
  size_t released_ = 0;  // bytes at the start of the bitmap given back
  bool abandoned_ = false;
  bool finished_ = false;
};

// Gives the memory of bytes [from, to) of a large buffer back to the system (whole pages within
// the range only); reading them again gives zeros, writing them takes fresh memory.
void ReleaseMemory(unsigned char* buffer, size_t from, size_t to);

// One image to compress: its JBIG parameters, its rows (which must stay unchanged until it is
// taken back) and, once done, the result. With progress set, the image is compressed while its
// rows are still being made. With releaseRows, the rows give their memory back once compressed.
struct ImageTask {
  JBIG_BIH bih{};
  const unsigned char* rows = nullptr;
  RowProgress* progress = nullptr;
  bool releaseRows = false;
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
  bool Done(ImageTask* task);
  // Waits until fewer than `tasks` tasks are queued or being compressed.
  void WaitUntilFewerThan(size_t tasks);

 private:
  void Work();

  std::mutex lock_;
  std::condition_variable work_;
  std::condition_variable done_;
  std::deque<ImageTask*> queue_;
  size_t unfinished_ = 0;  // queued or being compressed
  bool stop_ = false;
  std::vector<std::thread> workers_;
};

// Worker threads for a job: the VARNEL_THREADS environment setting when it is a number (1 runs
// everything on the page loop's thread, for comparison and debugging; N > 1 uses N workers), else
// one per processor core, at most 4 (none on a single core).
unsigned CompressionThreadsWanted();
