// Builders for the field and key declarations of small test files. Names are
// "PREFIX:NAME", as a file's declarations spell them.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "runtime/files/file_declaration.h"

// A field of `size` bytes (text, ctext, decimal digits) and `places` decimal
// places; the numeric types ignore both.
inline rt::FieldDeclaration FieldDecl(rt::FieldType type, const std::string& prefix, const std::string& name,
                                      int size = 0, int places = 0) {
  rt::FieldDeclaration f{};
  f.Type = type;
  f.Size = static_cast<std::uint16_t>(size);
  f.Places = static_cast<std::uint8_t>(places);
  f.Name = prefix + ":" + name;
  return f;
}

// A key over `components` (1-based field numbers) with the key flags `flags`.
inline rt::KeyDeclaration KeyDecl(const std::string& prefix, const std::string& name, std::uint8_t flags,
                                  std::vector<int> components) {
  rt::KeyDeclaration k;
  k.Name = prefix + ":" + name;
  k.Flags = flags;
  k.Components = std::move(components);
  return k;
}
