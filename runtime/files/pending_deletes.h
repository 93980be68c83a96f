// PendingDeletes: the deletes of a transaction that a driver has accepted but
// not yet applied to its storage, so that it can apply them together, in the
// order that suits its storage (the SQLite driver: an order that touches each
// index's pages few times; a server driver: one request for many), at the
// last moment anything could tell the difference.
//
// The rules every driver that keeps deletes pending follows, so that nothing
// any handle, alias or process sees changes:
//   - A delete is kept pending only inside a transaction, only when the
//     driver knows the record is there (its handle read it in the same
//     transaction and nothing since could have removed it or given its number
//     to another record) and only when the delete cannot fail on its own (the
//     transaction's first write, a delete the disk may have no room for, and
//     one that a rule of the file may refuse go at once), so that a failure
//     shows at the delete that met it. Any other delete is applied at once,
//     the pending ones first.
//   - A record with a pending delete is gone for every handle of the
//     connection: sequential reads step over it (and continue after it), a
//     read by key finds the next record with that key, a read by record
//     number and a second delete give 33, a duplicate test ignores it, a
//     record count leaves it out.
//   - Any other write to the file (an add, a put) applies the pending deletes
//     first, so unique keys and record numbers are what they would have been.
//   - A commit applies them before it commits; when applying fails the commit
//     fails and the transaction stays open, the deletes not applied still
//     pending, until it is committed again or rolled back.
//   - A rollback forgets them. Other connections and processes see nothing of
//     them before the commit, like any uncommitted change; a crash leaves the
//     file as of the last commit, since they never reached it.
//   - When the set passes its memory bound (Full) the driver applies it.
//
// Threading: a set belongs to the connection (and so the thread) of its file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace rt {

class PendingDeletes {
 public:
  // Bytes of memory the set may hold before Full() asks for it to be applied.
  static constexpr std::size_t kDefaultBound = 16u << 20;

  explicit PendingDeletes(std::size_t boundBytes = kDefaultBound) : bound_(boundBytes) {}

  // Records the delete of record number `record`; `order` is a byte string
  // whose byte-wise order is the order to apply in (OrderKey builds one).
  // A record already pending is ignored.
  void Add(std::int64_t record, std::string_view order);
  bool Contains(std::int64_t record) const { return count_ != 0 && Find(record) != nullptr; }
  std::size_t Count() const { return count_; }
  bool Empty() const { return count_ == 0; }
  // Past the memory bound: the driver applies the set now.
  bool Full() const { return Bytes() >= bound_; }
  // Moves whenever deletes leave the set (applied or forgotten), never when
  // one joins: while it stands still, every record pending then still is.
  std::uint64_t Departures() const { return departures_; }
  // The memory the set holds.
  std::size_t Bytes() const {
    return entries_.capacity() * sizeof(Entry) + orders_.capacity() +
           slots_.capacity() * sizeof(std::int64_t) + used_.capacity() / 8;
  }

  // Applies the pending deletes in order, `chunk` records at a time (the
  // last chunk may be shorter): `apply` gets each chunk's record numbers and
  // their count and gives a runtime code. Stops at the first failure and
  // keeps that chunk and the ones after it pending; gives that code (0 when
  // all went).
  using ApplyChunk = std::function<int(const std::int64_t* records, std::size_t count)>;
  int Apply(std::size_t chunk, const ApplyChunk& apply);
  // The pending record numbers in apply order, for a driver that applies
  // them in one request; Clear() once that succeeded.
  std::vector<std::int64_t> InOrder();
  // Forgets every pending delete (a rollback).
  void Clear();

 private:
  // 24 bytes a delete, its order text apart: a set of a batch of 150000
  // stays within a few MiB.
  struct Entry {
    std::uint64_t Head;  // the order's first 8 bytes, most significant first
    std::uint32_t Offset, Length;  // the order in orders_
    std::int64_t Record;
  };
  void Sort();
  // The record numbers in an open-addressing table (twice as many slots as
  // records at most), so that asking costs no allocation per record.
  const std::int64_t* Find(std::int64_t record) const;
  bool Insert(std::int64_t record);
  void Rebuild(std::size_t slots);

  std::size_t bound_;
  std::vector<Entry> entries_;
  std::string orders_;
  std::vector<std::int64_t> slots_;
  std::vector<bool> used_;
  std::size_t count_ = 0;
  std::uint64_t departures_ = 0;
};

// Builds an order string whose byte-wise order is the order of the values
// appended, compared one after another (numbers by value, texts by bytes).
class OrderKey {
 public:
  OrderKey& Int(std::int64_t value);
  OrderKey& Real(double value);
  OrderKey& Bytes(std::string_view value);
  std::string Take() { return std::move(text_); }

 private:
  std::string text_;
};

}  // namespace rt
