#include "base/BackgroundTask.h"

#include <system_error>
#include <utility>

BackgroundTask::~BackgroundTask() {
  if (!thread_.joinable()) return;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    WaitIdle(lock);
    stop_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void BackgroundTask::Run(std::function<void()> task) {
  Wait();
  if (!thread_.joinable() && !threadless_) {
    try {
      thread_ = std::thread(&BackgroundTask::Loop, this);
    } catch (const std::system_error&) {
      threadless_ = true;
    }
  }
  if (threadless_) {
    task();
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    task_ = std::move(task);
  }
  changed_.notify_all();
}

void BackgroundTask::Wait() {
  std::exception_ptr thrown;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    WaitIdle(lock);
    thrown = std::exchange(thrown_, nullptr);
  }
  if (thrown) std::rethrow_exception(thrown);
}

void BackgroundTask::WaitIdle(std::unique_lock<std::mutex>& lock) {
  changed_.wait(lock, [this] { return !task_; });
}

void BackgroundTask::Loop() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return stop_ || task_; });
    if (!task_) return;  // stopped, nothing left to run
    lock.unlock();
    std::exception_ptr thrown;
    try {
      task_();
    } catch (...) {
      thrown = std::current_exception();
    }
    lock.lock();
    thrown_ = thrown;
    task_ = nullptr;
    changed_.notify_all();
  }
}
