// FileManager: saved record buffers and saved file states.
//
// A saved buffer is a set of consecutive entries in Buffers: the record at
// id n, blob i at n+i for each of the file's b blobs, the null flags at
// n+b+1. A saved state (Saved) names one saved buffer plus the runtime's
// file state and the position as text, and is handed out by its own handle.
// Saving and restoring never change the thread's runtime error state, so a
// caller that saves around a failing operation still reports that failure.
#include <algorithm>
#include <cstring>

#include "access/file_manager.h"
#include "runtime/core/error_state.h"
#include "runtime/files/file_operations.h"

namespace dataaccess {
namespace {

int BlobCount(rt::File& file) {
  std::string count = rt::FileGetProperty(file, rt::kPropBlobCount);
  return rt::ErrorCode() == rt::kNoError && !count.empty() ? std::stoi(count) : 0;
}

std::vector<std::uint8_t> Bytes(std::string_view text) { return {text.begin(), text.end()}; }

std::string_view Text(const std::vector<std::uint8_t>& bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

}  // namespace

std::uint16_t FileManager::SaveBuffer() {
  if (!File) return 0;
  rt::PushErrors();
  int blobs = BlobCount(*File);
  std::int32_t id = Buffers.empty() ? 1 : Buffers.rbegin()->first + 1;
  if (id + blobs + 1 > 0xFFFF) {
    rt::PopErrors();
    return 0;  // no id left; restoring 0 does nothing
  }
  Buffers[id].assign(Buffer.begin(), Buffer.end());
  for (int i = 1; i <= blobs; ++i) Buffers[id + i] = Bytes(rt::FileGetProperty(*File, rt::kPropBlob, -i));
  Buffers[id + blobs + 1] = Bytes(rt::FileGetNulls(*File));
  rt::PopErrors();
  return static_cast<std::uint16_t>(id);
}

void FileManager::RestoreBuffer(std::uint16_t& id, std::uint8_t restore) {
  MoveSavedBuffer(*this, *this, id, restore);
}

void FileManager::MoveSavedBuffer(FileManager& from, FileManager& into, std::uint16_t& id,
                                  std::uint8_t restore) {
  if (id == 0) return;
  auto record = from.Buffers.find(id);
  if (record == from.Buffers.end()) return;
  rt::PushErrors();
  if (restore) {
    // A shorter copy is padded with blanks, as a record's text would be.
    std::size_t bytes = std::min(record->second.size(), into.Buffer.size());
    if (bytes) std::memcpy(into.Buffer.data(), record->second.data(), bytes);
    std::fill(into.Buffer.begin() + static_cast<std::ptrdiff_t>(bytes), into.Buffer.end(), ' ');
  }
  from.Buffers.erase(record);
  int blobs = from.File ? BlobCount(*from.File) : 0;
  for (int i = 1; i <= blobs; ++i) {
    auto blob = from.Buffers.find(id + i);
    if (blob == from.Buffers.end()) continue;
    if (restore && into.File) rt::FileSetProperty(*into.File, rt::kPropBlob, Text(blob->second), -i);
    from.Buffers.erase(blob);
  }
  auto nulls = from.Buffers.find(id + blobs + 1);
  if (nulls != from.Buffers.end()) {
    if (restore && into.File) rt::FileSetNulls(*into.File, Text(nulls->second));
    from.Buffers.erase(nulls);
  }
  rt::PopErrors();
  id = 0;
}

std::uint8_t FileManager::EqualBuffer(std::int32_t id) {
  if (UseFile(kUseUses) != errors::LevelBenign || BlobChanged) return 0;
  auto record = Buffers.find(id);
  if (record == Buffers.end()) return 0;
  if (record->second.size() > Buffer.size() ||
      !std::equal(record->second.begin(), record->second.end(), Buffer.begin()))
    return 0;
  rt::PushErrors();
  int blobs = BlobCount(*File);
  std::uint8_t equal = 1;
  for (int i = 1; i <= blobs && equal; ++i) {
    auto blob = Buffers.find(id + i);
    if (blob == Buffers.end() || Text(blob->second) != rt::FileGetProperty(*File, rt::kPropBlob, -i))
      equal = 0;
  }
  rt::PopErrors();
  return equal;
}

std::uint16_t FileManager::SaveFile() {
  if (UseFile(kUseUses) != errors::LevelBenign) return 0;
  SavedFileState state;
  state.Id = Saved.empty() ? 1 : static_cast<std::uint16_t>(Saved.back().Id + 1);
  state.Buffer = SaveBuffer();
  rt::PushErrors();
  state.State = rt::FileGetState(*File);
  int primary = PrimaryKeyNumber();
  // No current record gives an empty position; the state still restores.
  std::string position =
      primary ? rt::FilePositionByKey(*File, primary) : rt::FilePositionByRecord(*File);
  state.Pos = position.substr(0, kPositionCapacity);
  rt::PopErrors();
  state.AutoIncDone = AutoIncDone;
  Saved.push_back(std::move(state));
  return Saved.back().Id;
}

void FileManager::RestoreFile(std::uint16_t& handle, std::uint8_t restoreBuffer) {
  RestoreFileFrom(*this, handle, restoreBuffer);
}

void FileManager::RestoreFileFrom(FileManager& source, std::uint16_t& handle, std::uint8_t restore) {
  if (UseFile(kUseUses) != errors::LevelBenign) return;
  auto entry = std::find_if(source.Saved.begin(), source.Saved.end(),
                            [&](const SavedFileState& s) { return s.Id == handle; });
  if (entry == source.Saved.end()) return;
  SavedFileState state = *entry;
  source.Saved.erase(entry);
  // The position always comes back; the record only when asked for. Going
  // back to the position reads into the buffer, so keep the current record
  // when it is to stay.
  std::vector<std::uint8_t> current;
  if (!restore) current.assign(Buffer.begin(), Buffer.end());
  rt::PushErrors();
  if (AliasedFile || &source != this) {
    // The runtime state belongs to the source's file; on this one the
    // position is found again by the source's primary key or by record.
    if (int primary = source.PrimaryKeyNumber())
      rt::FileResetByKey(*File, primary, state.Pos);
    else
      rt::FileResetByRecord(*File, state.Pos);
    rt::FileNext(*File);
  } else {
    rt::FileRestoreState(*File, state.State);
  }
  rt::PopErrors();
  if (!restore) std::copy(current.begin(), current.end(), Buffer.begin());
  MoveSavedBuffer(source, *this, state.Buffer, restore);
  if (restore) AutoIncDone = state.AutoIncDone;
  rt::PushErrors();
  if (source.File) rt::FileFreeState(*source.File, state.State);
  rt::PopErrors();
  handle = 0;
}

}  // namespace dataaccess
