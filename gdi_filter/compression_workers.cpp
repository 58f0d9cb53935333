// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
#include "compression_workers.h"

#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <system_error>

void ReleaseMemory(unsigned char* buffer, size_t from, size_t to) {
  static const size_t kPage = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  const uintptr_t begin = (reinterpret_cast<uintptr_t>(buffer) + from + kPage - 1) / kPage * kPage;
  const uintptr_t end = (reinterpret_cast<uintptr_t>(buffer) + to) / kPage * kPage;
  if (buffer == nullptr || end <= begin) return;
  // Only whole pages inside the range: the rows around it keep their bytes.
  madvise(reinterpret_cast<void*>(begin), end - begin, MADV_DONTNEED);
}

// ---- Rows between the page loop and an encoder ----

void RowProgress::Reset(unsigned char* bitmap, size_t rowBytes, unsigned long height) {
  std::lock_guard<std::mutex> hold(lock_);
  bitmap_ = bitmap;
  rowBytes_ = rowBytes;
  height_ = height;
  made_ = consumed_ = 0;
  released_ = 0;
  abandoned_ = finished_ = false;
}

void RowProgress::Publish(unsigned long rows) {
  {
    std::lock_guard<std::mutex> hold(lock_);
    made_ = rows;
  }
  changed_.notify_all();
}

unsigned long RowProgress::WaitConsumed(unsigned long rows) {
  std::unique_lock<std::mutex> hold(lock_);
  changed_.wait(hold, [&] { return finished_ || abandoned_ || consumed_ >= rows; });
  return finished_ || abandoned_ ? height_ : consumed_;
}

void RowProgress::Abandon() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    abandoned_ = true;
  }
  changed_.notify_all();
}

void RowProgress::WaitFor(unsigned long rows) {
  std::unique_lock<std::mutex> hold(lock_);
  changed_.wait(hold, [&] { return abandoned_ || made_ >= rows; });
}

void RowProgress::Consumed(unsigned long rows) {
  size_t from, to;
  {
    std::lock_guard<std::mutex> hold(lock_);
    consumed_ = std::max(consumed_, rows);
    // The two rows above the next stripe are still read (typical prediction, the template).
    const unsigned long unread = consumed_ > 2 ? consumed_ - 2 : 0;
    from = released_;
    to = std::max(released_, static_cast<size_t>(unread) * rowBytes_);
    released_ = to;
  }
  changed_.notify_all();
  ReleaseMemory(bitmap_, from, to);
}

void RowProgress::Finished() {
  size_t from;
  {
    std::lock_guard<std::mutex> hold(lock_);
    finished_ = true;
    from = released_;
    released_ = static_cast<size_t>(height_) * rowBytes_;
  }
  changed_.notify_all();
  ReleaseMemory(bitmap_, from, released_);
}

namespace {

void WaitForRows(void* context, unsigned long rows) { static_cast<RowProgress*>(context)->WaitFor(rows); }
void RowsEncoded(void* context, unsigned long rows) { static_cast<RowProgress*>(context)->Consumed(rows); }

void Compress(ImageTask* task) {
  if (task->progress != nullptr) {
    JbigRowPacing pacing;
    pacing.waitForRows = WaitForRows;
    pacing.rowsDone = RowsEncoded;
    pacing.context = task->progress;
    CompressImagePaced(task->bih, task->rows, &pacing, &task->image);
    task->progress->Finished();
    return;
  }
  CompressImage(task->bih, task->rows, &task->image);
  if (task->releaseRows) {
    const size_t bytes = (static_cast<size_t>(task->bih.ParamImgWidth) + 7) / 8 * task->bih.ParamImgHeight;
    ReleaseMemory(const_cast<unsigned char*>(task->rows), 0, bytes);
  }
}

}  // namespace

// ---- Workers ----

CompressionWorkers::CompressionWorkers(unsigned threads) {
  // The workers start with every signal blocked (a new thread inherits the creator's mask).
  sigset_t all, saved;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &saved);
  try {
    for (unsigned i = 0; i < threads; ++i) workers_.emplace_back(&CompressionWorkers::Work, this);
  } catch (const std::system_error&) {
    // Fewer workers than asked for, or none: Submit then compresses on the caller's thread.
  }
  pthread_sigmask(SIG_SETMASK, &saved, nullptr);
}

CompressionWorkers::~CompressionWorkers() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    stop_ = true;
  }
  work_.notify_all();
  for (std::thread& worker : workers_) worker.join();
}

void CompressionWorkers::Submit(ImageTask* task) {
  if (workers_.empty()) {
    Compress(task);
    task->done = true;
    return;
  }
  {
    std::lock_guard<std::mutex> hold(lock_);
    task->done = false;
    queue_.push_back(task);
    ++unfinished_;
  }
  work_.notify_one();
}

void CompressionWorkers::Wait(ImageTask* task) {
  std::unique_lock<std::mutex> hold(lock_);
  done_.wait(hold, [task] { return task->done; });
}

bool CompressionWorkers::Done(ImageTask* task) {
  std::lock_guard<std::mutex> hold(lock_);
  return task->done;
}

void CompressionWorkers::WaitUntilFewerThan(size_t tasks) {
  std::unique_lock<std::mutex> hold(lock_);
  done_.wait(hold, [&] { return unfinished_ < tasks; });
}

void CompressionWorkers::Work() {
  std::unique_lock<std::mutex> hold(lock_);
  for (;;) {
    work_.wait(hold, [this] { return stop_ || !queue_.empty(); });
    if (queue_.empty()) return;  // stopping, and nothing left to do
    ImageTask* task = queue_.front();
    queue_.pop_front();
    hold.unlock();
    // Compress throws nothing: its memory comes from malloc, and a failure leaves the image
    // empty, to be sent as such.
    Compress(task);
    hold.lock();
    task->done = true;
    --unfinished_;
    done_.notify_all();
  }
}

unsigned CompressionThreadsWanted() {
  const char* setting = getenv("VARNEL_THREADS");
  if (setting != nullptr && *setting != '\0') {
    char* end = nullptr;
    long n = strtol(setting, &end, 10);
    if (*end == '\0' && n >= 1) return n == 1 ? 0 : static_cast<unsigned>(n > 16 ? 16 : n);
  }
  unsigned cores = std::thread::hardware_concurrency();
  if (cores <= 1) return 0;
  return cores > 4 ? 4 : cores;
}
