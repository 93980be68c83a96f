// Lists of field pairs copied and compared as a whole.
//
// Each pair binds a left field and a right field of any type (typed
// references into record buffers that belong to someone else) and owns a
// buffer value of the right field's type. A relation keeps one list per link
// between a parent (left) and a related file (right), the buffer remembering
// the parent's linking values as they were read; a view order keeps one for
// its range values.
//
// Three columns, seven copies and three comparisons (each also with an
// explicit case rule):
//   left  ->  buffer   AssignLeftToBuffer      EqualLeftBuffer  (as text, any case)
//   right ->  buffer   AssignRightToBuffer     EqualRightBuffer (as text, any case)
//   buffer -> left     AssignBufferToLeft
//   buffer -> right    AssignBufferToRight
//   left  ->  right    AssignLeftToRight       EqualLeftRight   (typed, exact)
//   right ->  left     AssignRightToLeft
//   blank right        ClearRight
// Copies convert between the types as rt::FieldRef::SetFrom does.
//
// Threading: a list belongs to the thread of the records it points into.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "runtime/files/field_ref.h"

namespace dataaccess {

// A value owned by a pair: holds one value of a field's type, independent of
// any record buffer.
class FieldValue {
 public:
  // A blank value (zero, spaces or NULs) of the same type, size and places as
  // `like`; an invalid reference gives an invalid value.
  explicit FieldValue(const rt::FieldRef& like);
  FieldValue(const FieldValue&) = delete;
  FieldValue& operator=(const FieldValue&) = delete;
  ~FieldValue();

  // A reference to the value; valid as long as this object lives.
  rt::FieldRef Ref() const { return ref_; }

 private:
  struct Storage;
  std::unique_ptr<Storage> storage_;
  rt::FieldRef ref_;
};

struct FieldPair {
  rt::FieldRef Left;   // not owned
  rt::FieldRef Right;  // not owned
  std::unique_ptr<FieldValue> Buffer;
};

class FieldPairList {
 public:
  FieldPairList() = default;
  virtual ~FieldPairList();
  FieldPairList(const FieldPairList&) = delete;
  FieldPairList& operator=(const FieldPairList&) = delete;

  // Virtual operations, in their fixed order.
  // Appends a pair; the buffer starts blank and `right` keeps its value.
  // Without Init the list is created first.
  virtual void AddPair(const rt::FieldRef& left, const rt::FieldRef& right);

  // Kills any existing list and starts an empty one.
  void Init();
  // Releases the pairs and their buffers; List and RealList become null.
  // Safe to call twice or before Init.
  void Kill();

  void AssignLeftToBuffer();
  void AssignRightToBuffer();
  void AssignBufferToLeft();
  void AssignBufferToRight();
  void AssignLeftToRight();
  void AssignRightToLeft();
  void ClearRight();

  // 1 when every pair matches (an empty or missing list matches), else 0.
  std::uint8_t EqualLeftRight() const;
  std::uint8_t EqualLeftBuffer() const;
  std::uint8_t EqualRightBuffer() const;
  // The same comparisons under the case rule of a key: with `ignoreCase`
  // two strings match whatever the case of their letters, without it only
  // exactly. A relation compares its links by the rule of the key it scans,
  // so a link never matches a record its key tells apart, nor misses one its
  // key takes for the same.
  std::uint8_t EqualLeftRight(bool ignoreCase) const;
  std::uint8_t EqualLeftBuffer(bool ignoreCase) const;
  std::uint8_t EqualRightBuffer(bool ignoreCase) const;

  // Number of pairs (0 without a list).
  int Count() const;

  // The list the operations work on, and the one this object created and
  // releases; after Init both are the same list.
  std::vector<FieldPair>* List = nullptr;
  std::unique_ptr<std::vector<FieldPair>> RealList;
};

}  // namespace dataaccess
