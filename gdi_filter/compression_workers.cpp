// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
#include "compression_workers.h"

#include <pthread.h>
#include <signal.h>

#include <cstdlib>
#include <system_error>

void RowProgress::Reset() {
  std::lock_guard<std::mutex> hold(lock_);
  rows_ = 0;
  abandoned_ = false;
}

void RowProgress::Publish(unsigned long rows) {
  {
    std::lock_guard<std::mutex> hold(lock_);
    rows_ = rows;
  }
  more_.notify_all();
}

void RowProgress::Abandon() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    abandoned_ = true;
  }
  more_.notify_all();
}

void RowProgress::WaitFor(unsigned long rows) {
  std::unique_lock<std::mutex> hold(lock_);
  more_.wait(hold, [&] { return abandoned_ || rows_ >= rows; });
}

namespace {

void WaitForRows(void* context, unsigned long rows) { static_cast<RowProgress*>(context)->WaitFor(rows); }

void Compress(ImageTask* task) {
  if (task->progress == nullptr) {
    CompressImage(task->bih, task->rows, &task->image);
    return;
  }
  JbigRowPacing pacing;
  pacing.waitForRows = WaitForRows;
  pacing.context = task->progress;
  CompressImagePaced(task->bih, task->rows, &pacing, &task->image);
}

}  // namespace

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
  }
  work_.notify_one();
}

void CompressionWorkers::Wait(ImageTask* task) {
  std::unique_lock<std::mutex> hold(lock_);
  done_.wait(hold, [task] { return task->done; });
}

void CompressionWorkers::Work() {
  std::unique_lock<std::mutex> hold(lock_);
  for (;;) {
    work_.wait(hold, [this] { return stop_ || !queue_.empty(); });
    if (queue_.empty()) return;  // stopping, and nothing left to do
    ImageTask* task = queue_.front();
    queue_.pop_front();
    hold.unlock();
    // CompressImage throws nothing: its memory comes from malloc, and a failure leaves the image
    // empty, to be sent as such.
    Compress(task);
    hold.lock();
    task->done = true;
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
