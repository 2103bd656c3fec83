#include <process.h>
#include <windows.h>

#include <exception>
#include <utility>

#include "base/BackgroundTask.h"

struct BackgroundTask::State {
  SRWLOCK lock = SRWLOCK_INIT;
  CONDITION_VARIABLE changed = CONDITION_VARIABLE_INIT;
  std::function<void()> task;  // set while a task waits or runs
  std::exception_ptr thrown;
  bool stop = false;
  bool threadless = false;  // no thread could be started
  HANDLE thread = nullptr;

  // Returns with the lock held and no task waiting or running.
  void LockIdle() {
    AcquireSRWLockExclusive(&lock);
    while (task) SleepConditionVariableSRW(&changed, &lock, INFINITE, 0);
  }
  void Unlock() { ReleaseSRWLockExclusive(&lock); }

  static unsigned __stdcall Main(void* parameter) {
    static_cast<State*>(parameter)->Loop();
    return 0;
  }
  void Loop() {
    AcquireSRWLockExclusive(&lock);
    for (;;) {
      while (!stop && !task) SleepConditionVariableSRW(&changed, &lock, INFINITE, 0);
      if (!task) break;  // stopped, nothing left to run
      Unlock();
      std::exception_ptr caught;
      try {
        task();
      } catch (...) {
        caught = std::current_exception();
      }
      AcquireSRWLockExclusive(&lock);
      thrown = caught;
      task = nullptr;
      WakeAllConditionVariable(&changed);
    }
    Unlock();
  }
};

BackgroundTask::BackgroundTask() : state_(new State) {}

BackgroundTask::~BackgroundTask() {
  State& s = *state_;
  if (s.thread == nullptr) return;
  s.LockIdle();
  s.stop = true;
  s.Unlock();
  WakeAllConditionVariable(&s.changed);
  WaitForSingleObject(s.thread, INFINITE);
  CloseHandle(s.thread);
}

void BackgroundTask::Run(std::function<void()> task) {
  Wait();
  State& s = *state_;
  if (s.thread == nullptr && !s.threadless) {
    // Started through the C runtime, whose calls (the file writes and reads)
    // the task makes.
    const uintptr_t thread = _beginthreadex(nullptr, 0, &State::Main, &s, 0, nullptr);
    s.thread = reinterpret_cast<HANDLE>(thread);
    s.threadless = thread == 0;
  }
  if (s.threadless) {
    task();
    return;
  }
  AcquireSRWLockExclusive(&s.lock);
  s.task = std::move(task);
  s.Unlock();
  WakeAllConditionVariable(&s.changed);
}

void BackgroundTask::Wait() {
  State& s = *state_;
  s.LockIdle();
  std::exception_ptr thrown = std::exchange(s.thrown, nullptr);
  s.Unlock();
  if (thrown) std::rethrow_exception(thrown);
}
