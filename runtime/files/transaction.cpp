#include "runtime/files/transaction.h"

#include <algorithm>
#include <vector>

#include "runtime/core/blocking_call.h"
#include "runtime/core/error_state.h"
#include "runtime/files/driver.h"
#include "runtime/files/file.h"
#include "runtime/files/file_operations.h"

namespace rt {
namespace {

// Set once the thread's transaction record is destroyed at thread exit, so
// files destroyed after it (thread-local objects go in no fixed order) leave
// it alone. A plain flag stays readable until the thread is gone.
thread_local bool txGone = false;

struct ThreadTransaction {
  bool active = false;
  File* engine = nullptr;       // the enlisted file whose driver runs the transaction
  std::vector<File*> enlisted;  // not owned; each leaves through TxForget
  std::vector<File*> marked;    // for the next TxBegin
  ~ThreadTransaction() { txGone = true; }
};

ThreadTransaction& Tx() {
  thread_local ThreadTransaction tx;
  return tx;
}

bool Contains(const std::vector<File*>& files, const File* file) {
  return std::find(files.begin(), files.end(), file) != files.end();
}

// A file that can take part: open, with a driver that has transactions.
int Eligible(File& file) {
  Driver* driver = file.Handle();
  if (!driver || !driver->IsOpen()) {
    SetError(kBadRequest, file.Declaration().DiskName(), {}, "file not open");
    return kBadRequest;
  }
  if (!driver->SupportsTransactions()) {
    SetError(kNoTransactions, file.Declaration().DiskName());
    return kNoTransactions;
  }
  return kNoError;
}

void End() {
  auto& tx = Tx();
  tx.active = false;
  tx.engine = nullptr;
  tx.enlisted.clear();
}

void Begin(int timeoutSeconds, std::vector<File*> files) {
  auto& tx = Tx();
  for (File* file : files)
    if (Eligible(*file) != kNoError) return;
  const bool begins = !tx.active;
  if (begins) {
    if (files.empty()) {
      SetError(kBadRequest, {}, {}, "no file enlisted in the transaction");
      return;
    }
    int code = files.front()->Handle()->BeginTransaction(timeoutSeconds);
    if (detail::Report(*files.front(), code) != kNoError) return;
    tx.active = true;
    tx.engine = files.front();
  }
  // Every file joining takes its lock now, waiting the same timeout, so one
  // that another process is writing is waited for here rather than refused
  // at its first write. A transaction this call began ends with the failure.
  for (File* file : files) {
    if (Contains(tx.enlisted, file)) continue;
    if (file != tx.engine) {
      if (int code = file->Handle()->BeginTransaction(timeoutSeconds)) {
        if (begins) {
          tx.engine->Handle()->RollbackTransaction();
          End();
        }
        detail::Report(*file, code);
        return;
      }
    }
    tx.enlisted.push_back(file);
  }
  tx.marked.clear();
  ClearError();
}

}  // namespace

void TxBegin(int timeoutSeconds) { Begin(timeoutSeconds, Tx().marked); }

void TxBegin(int timeoutSeconds, File& file) {
  auto files = Tx().marked;
  if (!Contains(files, &file)) files.push_back(&file);
  Begin(timeoutSeconds, files);
}

void TxCommit() {
  auto& tx = Tx();
  if (!tx.active) return ClearError();
  // A commit waits for the disk (and applies pending deletes) for up to a
  // second: the windows keep answering meanwhile (blocking_call.h).
  int code = kNoError;
  Driver* engine = tx.engine->Handle();
  RunBlocking([&] { code = engine->CommitTransaction(); });
  if (detail::Report(*tx.engine, code) == kNoError) End();
}

void TxRollback() {
  auto& tx = Tx();
  if (!tx.active) return ClearError();
  int code = tx.engine->Handle()->RollbackTransaction();
  File* engine = tx.engine;
  End();
  detail::Report(*engine, code);
}

bool TxActive() { return Tx().active; }

bool TxLost() {
  auto& tx = Tx();
  return tx.active && tx.engine->Handle() && tx.engine->Handle()->TransactionLost();
}

namespace detail {

bool TxMarked(const File& file) {
  auto& tx = Tx();
  return Contains(tx.enlisted, &file) || Contains(tx.marked, &file);
}

int TxMark(File& file, bool on) {
  auto& tx = Tx();
  if (!on) {
    tx.marked.erase(std::remove(tx.marked.begin(), tx.marked.end(), &file), tx.marked.end());
    return kNoError;
  }
  if (int code = Eligible(file)) return code;
  if (tx.active) {
    if (!Contains(tx.enlisted, &file)) tx.enlisted.push_back(&file);
  } else if (!Contains(tx.marked, &file)) {
    tx.marked.push_back(&file);
  }
  return kNoError;
}

void TxForget(File& file) {
  if (txGone) return;
  auto& tx = Tx();
  tx.marked.erase(std::remove(tx.marked.begin(), tx.marked.end(), &file), tx.marked.end());
  if (!Contains(tx.enlisted, &file)) return;
  tx.enlisted.erase(std::remove(tx.enlisted.begin(), tx.enlisted.end(), &file), tx.enlisted.end());
  if (tx.engine != &file) return;
  for (File* other : tx.enlisted)
    if (other->Handle() && other->Handle()->IsOpen()) {
      tx.engine = other;
      return;
    }
  // The last enlisted file is going: what it left uncommitted goes with it.
  if (tx.active) file.Handle()->RollbackTransaction();
  End();
}

}  // namespace detail
}  // namespace rt
