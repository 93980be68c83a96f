// Static declarations of data files: driver, disk name, fields, keys, flags.
// A declaration is read-only data written once at namespace scope; the runtime
// gives every thread its own File (record buffer, handle, state) built from it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace rt {

class FileDeclaration;

// Field type codes as the declarations store them.
enum class FieldType : std::uint8_t {
  Byte = 0x01,     // unsigned 8-bit
  Short = 0x02,    // signed 16-bit, little-endian
  Date = 0x04,     // day number, signed 32-bit little-endian
  Long = 0x06,     // signed 32-bit, little-endian
  Decimal = 0x0a,  // packed decimal, Size bytes, Places places
  Text = 0x12,     // Size bytes, blank-padded, no terminator
  CText = 0x13,    // Size bytes, at most Size-1 characters and a NUL
};

struct FieldDeclaration {
  FieldType Type;
  // Bytes of one element: the packed byte count for decimals, the length for
  // text and ctext; ignored for the fixed-size numeric types.
  std::uint16_t Size = 0;
  std::uint8_t Places = 0;
  // Name in capitals with the prefix ("TIM:DUTYDATE").
  std::string Name;
  // Array dimensions; empty for a single value.
  std::vector<std::uint16_t> Dimensions;

  bool IsArray() const { return !Dimensions.empty(); }
  // Number of elements (1 for a single value).
  int Elements() const;
  // Bytes of one element.
  int ElementSize() const;
  // Digits of a decimal field: the packed size holds a sign and 2*Size-1 digits.
  int Digits() const { return 2 * Size - 1; }
  // The name without the prefix ("DUTYDATE").
  std::string_view Label() const;
};

// Key attribute flags.
inline constexpr std::uint8_t kKeyDuplicates = 0x01;
inline constexpr std::uint8_t kKeyNoCase = 0x02;
inline constexpr std::uint8_t kKeyBase = 0x04;
inline constexpr std::uint8_t kKeyOpt = 0x10;

struct KeyDeclaration {
  // External name given to the driver; empty when the key has none.
  std::string StoredName;
  // Label in capitals with the prefix ("TIM:KEYCOMPDATECARDPTIME").
  std::string Name;
  std::uint8_t Flags = kKeyBase;
  // Components as 1-based field numbers, in key order (all ascending).
  std::vector<int> Components;
  // The file the key belongs to; set when the file's declaration is built.
  const FileDeclaration* File = nullptr;

  bool AllowsDuplicates() const { return (Flags & kKeyDuplicates) != 0; }
  bool IgnoresCase() const { return (Flags & kKeyNoCase) != 0; }
  // The label without the prefix ("KEYCOMPDATECARDPTIME").
  std::string_view Label() const;
};

// Where a field lies in the record buffer and what one element of it is,
// worked out once per declaration (field references are made per access).
struct FieldLayout {
  int Offset = 0;
  int ElementSize = 0;
  int Elements = 1;
  FieldType Type = FieldType::Long;
  int Places = 0;  // a decimal's; 0 for every other type
};

class FileDeclaration {
 public:
  // Builds the declaration and lays the fields out packed, in order, with no
  // padding. Keys get this declaration as their file.
  FileDeclaration(std::string driver, std::string label, std::string prefix, std::string diskName,
                  std::vector<FieldDeclaration> fields, std::vector<KeyDeclaration> keys,
                  std::uint32_t flags);
  ~FileDeclaration();
  FileDeclaration(const FileDeclaration&) = delete;
  FileDeclaration& operator=(const FileDeclaration&) = delete;

  const std::string& Driver() const { return driver_; }
  // The file's label ("Timecard") and field prefix ("TIM").
  const std::string& Label() const { return label_; }
  const std::string& Prefix() const { return prefix_; }
  // Disk name as declared, with '\' separators ("data\Timecard.DAT").
  const std::string& DiskName() const { return diskName_; }
  // The disk name as a path on this system ('/' separators).
  std::string Path() const;
  std::uint32_t Flags() const { return flags_; }
  int RecordLength() const { return recordLength_; }

  int FieldCount() const { return static_cast<int>(fields_.size()); }
  // Field n, 1-based.
  const FieldDeclaration& Field(int n) const { return fields_.at(n - 1); }
  // Byte offset of field n (1-based) in the record buffer.
  int Offset(int n) const { return layouts_.at(n - 1).Offset; }
  // The layout of field n (1-based); null for a number that names no field.
  const FieldLayout* Layout(int n) const {
    return n >= 1 && n <= FieldCount() ? &layouts_[static_cast<std::size_t>(n - 1)] : nullptr;
  }
  // 1-based number of the field with this name (with or without the prefix,
  // any case); 0 when there is none.
  int FieldNumber(std::string_view name) const;

  int KeyCount() const { return static_cast<int>(keys_.size()); }
  // Key n, 1-based.
  const KeyDeclaration& Key(int n) const { return keys_.at(n - 1); }
  // 1-based number of the key with this name (with or without the prefix, any case); 0 when none.
  int KeyNumber(std::string_view name) const;

 private:
  std::string driver_;
  std::string label_;
  std::string prefix_;
  std::string diskName_;
  std::vector<FieldDeclaration> fields_;
  std::vector<FieldLayout> layouts_;
  std::vector<KeyDeclaration> keys_;
  std::uint32_t flags_;
  int recordLength_ = 0;
};

}  // namespace rt
