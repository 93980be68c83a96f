#include "access/field_pair_list.h"

#include <string>

#include "runtime/core/text.h"

namespace dataaccess {

// A FieldRef can only be made over a record of a declaration, so a pair's
// buffer is a record of a one-field declaration with the right field's type.
struct FieldValue::Storage {
  explicit Storage(const rt::FieldRef& like)
      : decl("", "", "", "", {Declaration(like)}, {}, 0), bytes(decl.RecordLength(), 0) {}

  static rt::FieldDeclaration Declaration(const rt::FieldRef& like) {
    rt::FieldDeclaration field{};
    field.Type = like.Type();
    field.Size = static_cast<std::uint16_t>(like.Size());
    field.Places = static_cast<std::uint8_t>(like.Places());
    field.Name = "VALUE";
    return field;
  }

  rt::FileDeclaration decl;
  std::vector<std::uint8_t> bytes;
};

FieldValue::FieldValue(const rt::FieldRef& like) {
  if (!like.IsValid()) return;
  storage_ = std::make_unique<Storage>(like);
  ref_ = rt::FieldRef(storage_->bytes.data(), storage_->decl, 1);
  ref_.Clear();
}

FieldValue::~FieldValue() = default;

namespace {

// Values compared as text.
bool SameText(const rt::FieldRef& a, const rt::FieldRef& b, bool ignoreCase) {
  const std::string x = a.StoredText(), y = b.StoredText();
  return ignoreCase ? rt::SameIgnoringCase(x, y) : x == y;
}

// Values compared by type; two strings without regard to case when asked.
bool SameValue(const rt::FieldRef& a, const rt::FieldRef& b, bool ignoreCase) {
  if (ignoreCase && a.IsString() && b.IsString()) return SameText(a, b, true);
  return a.Compare(b) == 0;
}

}  // namespace

FieldPairList::~FieldPairList() { Kill(); }

void FieldPairList::Init() {
  Kill();
  RealList = std::make_unique<std::vector<FieldPair>>();
  List = RealList.get();
}

void FieldPairList::Kill() {
  List = nullptr;
  RealList.reset();
}

void FieldPairList::AddPair(const rt::FieldRef& left, const rt::FieldRef& right) {
  if (!List) Init();
  FieldPair pair;
  pair.Left = left;
  pair.Right = right;
  pair.Buffer = std::make_unique<FieldValue>(right);
  List->push_back(std::move(pair));
}

int FieldPairList::Count() const { return List ? static_cast<int>(List->size()) : 0; }

void FieldPairList::AssignLeftToBuffer() {
  if (List)
    for (auto& p : *List) p.Buffer->Ref().SetFrom(p.Left);
}

void FieldPairList::AssignRightToBuffer() {
  if (List)
    for (auto& p : *List) p.Buffer->Ref().SetFrom(p.Right);
}

void FieldPairList::AssignBufferToLeft() {
  if (List)
    for (auto& p : *List) p.Left.SetFrom(p.Buffer->Ref());
}

void FieldPairList::AssignBufferToRight() {
  if (List)
    for (auto& p : *List) p.Right.SetFrom(p.Buffer->Ref());
}

void FieldPairList::AssignLeftToRight() {
  if (List)
    for (auto& p : *List) p.Right.SetFrom(p.Left);
}

void FieldPairList::AssignRightToLeft() {
  if (List)
    for (auto& p : *List) p.Left.SetFrom(p.Right);
}

void FieldPairList::ClearRight() {
  if (List)
    for (auto& p : *List) p.Right.Clear();
}

std::uint8_t FieldPairList::EqualLeftRight() const { return EqualLeftRight(false); }
std::uint8_t FieldPairList::EqualLeftBuffer() const { return EqualLeftBuffer(true); }
std::uint8_t FieldPairList::EqualRightBuffer() const { return EqualRightBuffer(true); }

std::uint8_t FieldPairList::EqualLeftRight(bool ignoreCase) const {
  if (List)
    for (const auto& p : *List)
      if (!SameValue(p.Left, p.Right, ignoreCase)) return 0;
  return 1;
}

std::uint8_t FieldPairList::EqualLeftBuffer(bool ignoreCase) const {
  if (List)
    for (const auto& p : *List)
      if (!SameText(p.Left, p.Buffer->Ref(), ignoreCase)) return 0;
  return 1;
}

std::uint8_t FieldPairList::EqualRightBuffer(bool ignoreCase) const {
  if (List)
    for (const auto& p : *List)
      if (!SameText(p.Right, p.Buffer->Ref(), ignoreCase)) return 0;
  return 1;
}

}  // namespace dataaccess
