// A host double for in-process tests of the entry point: a FilterRecord with
// handle procedures that count every call and keep their blocks in memory.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "host/HostInterface.h"

struct HandleCallCounts {
  int newCalls = 0;
  int disposeCalls = 0;
  int lockCalls = 0;
  int unlockCalls = 0;
  std::map<host::Handle, int> unlocksPerHandle;
};

class MockHost {
 public:
  MockHost();
  ~MockHost();
  MockHost(const MockHost&) = delete;
  MockHost& operator=(const MockHost&) = delete;

  host::FilterRecord record{};
  host::HandleProcs procs{};
  HandleCallCounts counts;
  intptr_t data = 0;
  int16_t result = 12345;
  bool failNew = false;
  bool failLock = false;
  // getSizeProc answers 0 for every handle, as some hosts do.
  bool sizeUnknown = false;

  // Installs usable handle procedures (version 1, 8 procedures).
  void UseHandleProcs();
  // A parameters handle made by these procedures.
  host::Handle MakeParametersHandle();
  int16_t Call(int16_t selector);

  static MockHost* active;

 private:
  std::vector<std::unique_ptr<std::vector<char>>> blocks_;
  std::map<host::Handle, char*> handles_;
  std::map<host::Handle, int32_t> sizes_;
  std::vector<std::unique_ptr<char*>> masters_;

  friend struct MockHandleProcs;
};
