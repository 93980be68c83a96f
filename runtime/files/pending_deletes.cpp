#include "runtime/files/pending_deletes.h"

#include <algorithm>
#include <cstring>

#include "runtime/core/error_state.h"

namespace rt {
namespace {

// Per entry beyond its order text: the entry itself and the hash set's node
// and bucket.
constexpr std::size_t kEntryBytes = 2 * sizeof(std::int64_t) + sizeof(std::string) + 40;

}  // namespace

void PendingDeletes::Add(std::int64_t record, std::string order) {
  if (!records_.insert(record).second) return;
  // Texts that fit the string itself take no memory of their own.
  bytes_ += kEntryBytes + (order.size() > 15 ? order.capacity() + 1 : 0);
  std::uint64_t head = 0;
  for (std::size_t i = 0; i < 8; ++i)
    head = head << 8 | (i < order.size() ? static_cast<unsigned char>(order[i]) : 0u);
  entries_.push_back({head, std::move(order), record});
}

// Most orders differ in their first 8 bytes, which compare as one number.
void PendingDeletes::Sort() {
  std::sort(entries_.begin(), entries_.end(), [](const Entry& a, const Entry& b) {
    if (a.Head != b.Head) return a.Head < b.Head;
    if (int c = a.Order.compare(b.Order); c != 0) return c < 0;
    return a.Record < b.Record;
  });
}

int PendingDeletes::Apply(std::size_t chunk, const ApplyChunk& apply) {
  Sort();
  chunk = std::max<std::size_t>(chunk, 1);
  std::vector<std::int64_t> records;
  std::size_t done = 0;
  int code = kNoError;
  while (done < entries_.size()) {
    const std::size_t count = std::min(chunk, entries_.size() - done);
    records.clear();
    for (std::size_t i = done; i < done + count; ++i) records.push_back(entries_[i].Record);
    code = apply(records.data(), count);
    if (code != kNoError) break;
    for (std::int64_t record : records) records_.erase(record);
    done += count;
  }
  if (done == entries_.size()) {
    Clear();
    return kNoError;
  }
  entries_.erase(entries_.begin(), entries_.begin() + static_cast<std::ptrdiff_t>(done));
  bytes_ = 0;
  for (const auto& e : entries_)
    bytes_ += kEntryBytes + (e.Order.size() > 15 ? e.Order.capacity() + 1 : 0);
  return code;
}

std::vector<std::int64_t> PendingDeletes::InOrder() {
  Sort();
  std::vector<std::int64_t> records;
  records.reserve(entries_.size());
  for (const auto& e : entries_) records.push_back(e.Record);
  return records;
}

void PendingDeletes::Clear() {
  // Swapped out rather than cleared, so that a large set gives its memory back.
  std::vector<Entry>().swap(entries_);
  std::unordered_set<std::int64_t>().swap(records_);
  bytes_ = 0;
}

// Numbers: a length byte that orders by sign and magnitude (0x80 + n for n
// bytes of a value >= 0, 0x7F - n for a negative one), then the n low bytes
// most significant first; small numbers stay short.
OrderKey& OrderKey::Int(std::int64_t value) {
  const std::uint64_t magnitude = static_cast<std::uint64_t>(value < 0 ? ~value : value);
  int bytes = 0;
  while (bytes < 8 && (magnitude >> (8 * bytes)) != 0) ++bytes;
  text_ += static_cast<char>(value < 0 ? 0x7F - bytes : 0x80 + bytes);
  const auto bits = static_cast<std::uint64_t>(value);
  for (int i = bytes - 1; i >= 0; --i) text_ += static_cast<char>((bits >> (8 * i)) & 0xFF);
  return *this;
}

// The IEEE bits with the sign flipped for positives and all bits flipped for
// negatives order as the values do.
OrderKey& OrderKey::Real(double value) {
  std::uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  bits = (bits >> 63) ? ~bits : bits | (std::uint64_t{1} << 63);
  for (int i = 7; i >= 0; --i) text_ += static_cast<char>((bits >> (8 * i)) & 0xFF);
  return *this;
}

// Bytes with NUL written as 00 FF and the end as 00 00, so that a text sorts
// before every longer text it begins.
OrderKey& OrderKey::Bytes(std::string_view value) {
  for (char c : value) {
    text_ += c;
    if (c == '\0') text_ += '\xFF';
  }
  text_ += '\0';
  text_ += '\0';
  return *this;
}

}  // namespace rt
