#include "runtime/files/pending_deletes.h"

#include <algorithm>
#include <cstring>

#include "runtime/core/error_state.h"

namespace rt {
namespace {

std::uint64_t Mix(std::int64_t record) {
  auto x = static_cast<std::uint64_t>(record) + 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

}  // namespace

const std::int64_t* PendingDeletes::Find(std::int64_t record) const {
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t i = Mix(record) & mask; used_[i]; i = (i + 1) & mask)
    if (slots_[i] == record) return &slots_[i];
  return nullptr;
}

bool PendingDeletes::Insert(std::int64_t record) {
  if (2 * (count_ + 1) > slots_.size()) Rebuild(std::max<std::size_t>(64, 2 * slots_.size()));
  const std::size_t mask = slots_.size() - 1;
  std::size_t i = Mix(record) & mask;
  for (; used_[i]; i = (i + 1) & mask)
    if (slots_[i] == record) return false;
  slots_[i] = record;
  used_[i] = true;
  ++count_;
  return true;
}

void PendingDeletes::Rebuild(std::size_t slots) {
  std::vector<std::int64_t> old;
  old.swap(slots_);
  std::vector<bool> oldUsed;
  oldUsed.swap(used_);
  slots_.assign(slots, 0);
  used_.assign(slots, false);
  count_ = 0;
  for (std::size_t i = 0; i < old.size(); ++i)
    if (oldUsed[i]) Insert(old[i]);
}

void PendingDeletes::Add(std::int64_t record, std::string_view order) {
  if (!Insert(record)) return;
  std::uint64_t head = 0;
  for (std::size_t i = 0; i < 8; ++i)
    head = head << 8 | (i < order.size() ? static_cast<unsigned char>(order[i]) : 0u);
  entries_.push_back({head, static_cast<std::uint32_t>(orders_.size()),
                      static_cast<std::uint32_t>(order.size()), record});
  orders_.append(order);
}

// Most orders differ in their first 8 bytes, which compare as one number.
void PendingDeletes::Sort() {
  const std::string& orders = orders_;
  std::sort(entries_.begin(), entries_.end(), [&orders](const Entry& a, const Entry& b) {
    if (a.Head != b.Head) return a.Head < b.Head;
    const std::string_view x(orders.data() + a.Offset, a.Length);
    const std::string_view y(orders.data() + b.Offset, b.Length);
    if (int c = x.compare(y); c != 0) return c < 0;
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
    done += count;
  }
  if (done == entries_.size()) {
    Clear();
    return kNoError;
  }
  // What is left stays pending, in order; the table holds just those.
  if (done != 0) ++departures_;
  entries_.erase(entries_.begin(), entries_.begin() + static_cast<std::ptrdiff_t>(done));
  std::vector<std::int64_t>().swap(slots_);
  std::vector<bool>().swap(used_);
  count_ = 0;
  for (const auto& e : entries_) Insert(e.Record);
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
  if (count_ != 0) ++departures_;
  // Swapped out rather than cleared, so that a large set gives its memory back.
  std::vector<Entry>().swap(entries_);
  std::string().swap(orders_);
  std::vector<std::int64_t>().swap(slots_);
  std::vector<bool>().swap(used_);
  count_ = 0;
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
