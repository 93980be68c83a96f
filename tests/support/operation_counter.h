// Counts the runtime operations done on a file, by operation code (file.h),
// as one of the file's callback receivers. Register it with
// rt::FileCallback(file, &counter, 0) and remove it (mode 1) before it goes.
#pragma once

#include <map>

#include "runtime/files/file.h"

class OperationCounter : public rt::FileCallbackReceiver {
 public:
  void BeforeFileOperation(int operation, const rt::FileOperationParams&) override {
    ++counts_[operation];
  }
  void AfterFileOperation(int, const rt::FileOperationParams&) override {}

  int Count(int operation) const {
    auto it = counts_.find(operation);
    return it == counts_.end() ? 0 : it->second;
  }
  void Reset() { counts_.clear(); }

 private:
  std::map<int, int> counts_;
};
