#include "runtime/files/file_declaration.h"

#include <algorithm>

#include "runtime/core/text.h"
#include "runtime/files/file.h"

namespace rt {
namespace {

std::string_view AfterPrefix(std::string_view name) {
  auto colon = name.find(':');
  return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

// The 1-based number of the field or key called `name`, 0 for none: a name
// with a prefix ("TIM:DUTYDATE") is matched whole, one without against the
// labels; case does not count.
template <class Declaration>
int NumberByName(const std::vector<Declaration>& declarations, std::string_view name) {
  const bool qualified = name.find(':') != std::string_view::npos;
  for (std::size_t i = 0; i < declarations.size(); ++i) {
    const auto& d = declarations[i];
    if (qualified ? SameIgnoringCase(d.Name, name) : SameIgnoringCase(d.Label(), name))
      return static_cast<int>(i) + 1;
  }
  return 0;
}

}  // namespace

int FieldDeclaration::Elements() const {
  int n = 1;
  for (auto d : Dimensions) n *= d;
  return n;
}

int FieldDeclaration::ElementSize() const {
  switch (Type) {
    case FieldType::Byte: return 1;
    case FieldType::Short: return 2;
    case FieldType::Date:
    case FieldType::Long: return 4;
    case FieldType::Decimal:
    case FieldType::Text:
    case FieldType::CText: return Size;
  }
  return 0;
}

std::string_view FieldDeclaration::Label() const { return AfterPrefix(Name); }

std::string_view KeyDeclaration::Label() const { return AfterPrefix(Name); }

FileDeclaration::FileDeclaration(std::string driver, std::string label, std::string prefix,
                                 std::string diskName, std::vector<FieldDeclaration> fields,
                                 std::vector<KeyDeclaration> keys, std::uint32_t flags)
    : driver_(std::move(driver)),
      label_(std::move(label)),
      prefix_(std::move(prefix)),
      diskName_(std::move(diskName)),
      fields_(std::move(fields)),
      keys_(std::move(keys)),
      flags_(flags) {
  layouts_.reserve(fields_.size());
  for (const auto& f : fields_) {
    layouts_.push_back({recordLength_, f.ElementSize(), f.Elements(), f.Type,
                        f.Type == FieldType::Decimal ? f.Places : 0});
    recordLength_ += f.ElementSize() * f.Elements();
  }
  for (auto& k : keys_) k.File = this;
}

FileDeclaration::~FileDeclaration() { ForgetThreadFile(*this); }

std::string FileDeclaration::Path() const {
  std::string path = diskName_;
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

int FileDeclaration::FieldNumber(std::string_view name) const { return NumberByName(fields_, name); }

int FileDeclaration::KeyNumber(std::string_view name) const { return NumberByName(keys_, name); }

}  // namespace rt
