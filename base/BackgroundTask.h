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
//
// Owner and thread hand over a task per block, hundreds of times a second:
// on Windows they meet on a slim reader/writer lock and a condition
// variable, which wait in the process (under Wine on futexes), not on kernel
// objects, which under Wine cost a round trip to its server each time.
#pragma once

#include <functional>
#include <memory>

class BackgroundTask {
 public:
  BackgroundTask();
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
  struct State;
  std::unique_ptr<State> state_;
};
