#include <condition_variable>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include "base/BackgroundTask.h"

struct BackgroundTask::State {
  std::mutex mutex;
  std::condition_variable changed;
  std::function<void()> task;  // set while a task waits or runs
  std::exception_ptr thrown;
  bool stop = false;
  bool threadless = false;  // no thread could be started
  std::thread thread;

  void Loop() {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
      changed.wait(lock, [this] { return stop || task; });
      if (!task) return;  // stopped, nothing left to run
      lock.unlock();
      std::exception_ptr caught;
      try {
        task();
      } catch (...) {
        caught = std::current_exception();
      }
      lock.lock();
      thrown = caught;
      task = nullptr;
      changed.notify_all();
    }
  }
};

BackgroundTask::BackgroundTask() : state_(new State) {}

BackgroundTask::~BackgroundTask() {
  State& s = *state_;
  if (!s.thread.joinable()) return;
  {
    std::unique_lock<std::mutex> lock(s.mutex);
    s.changed.wait(lock, [&s] { return !s.task; });
    s.stop = true;
  }
  s.changed.notify_all();
  s.thread.join();
}

void BackgroundTask::Run(std::function<void()> task) {
  Wait();
  State& s = *state_;
  if (!s.thread.joinable() && !s.threadless) {
    try {
      s.thread = std::thread(&State::Loop, &s);
    } catch (const std::system_error&) {
      s.threadless = true;
    }
  }
  if (s.threadless) {
    task();
    return;
  }
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    s.task = std::move(task);
  }
  s.changed.notify_all();
}

void BackgroundTask::Wait() {
  State& s = *state_;
  std::exception_ptr thrown;
  {
    std::unique_lock<std::mutex> lock(s.mutex);
    s.changed.wait(lock, [&s] { return !s.task; });
    thrown = std::exchange(s.thrown, nullptr);
  }
  if (thrown) std::rethrow_exception(thrown);
}
