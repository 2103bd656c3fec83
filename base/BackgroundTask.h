// One worker thread that runs its owner's tasks one at a time, so that the
// owner goes on with its next piece of work while the task runs: a file
// block written or read while the next chunk of pixels is converted. On a
// machine of two or more processors the two overlap; on one they take turns,
// as they would without the thread.
//
// The thread is started with the first task and ended by the destructor,
// which first waits for the running task: nothing outlives its owner. When no
// thread can be started, tasks run on the caller's thread at once. An
// exception a task throws is kept and thrown again by the next Wait, on the
// owner's thread.
#pragma once

#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

class BackgroundTask {
 public:
  BackgroundTask() = default;
  ~BackgroundTask();
  BackgroundTask(const BackgroundTask&) = delete;
  BackgroundTask& operator=(const BackgroundTask&) = delete;

  // Waits for the task handed over before (rethrowing what it threw), then
  // starts task.
  void Run(std::function<void()> task);
  // Returns when the task handed over last has finished; rethrows what it
  // threw.
  void Wait();

 private:
  void Loop();
  void WaitIdle(std::unique_lock<std::mutex>& lock);

  std::mutex mutex_;
  std::condition_variable changed_;
  std::function<void()> task_;  // set while a task waits or runs
  std::exception_ptr thrown_;
  bool stop_ = false;
  bool threadless_ = false;  // no thread could be started
  std::thread thread_;
};
