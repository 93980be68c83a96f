// A control's bound variable ("use variable"): a typed, non-owning reference
// to program data that the runtime reads when it displays the control and
// writes when the control is accepted. The program owns the variable and must
// keep it alive while a window that uses it is open.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace rt {

using BoundVariable = std::variant<std::monostate, std::int32_t*, std::int16_t*, std::uint8_t*,
                                   std::int64_t*, std::string*>;

inline bool IsBound(const BoundVariable& v) { return !std::holds_alternative<std::monostate>(v); }

// The variable's value as display text under a picture ("" picture: plain
// number, or the string as it is). Empty for an unbound variable.
std::string FormatVariable(const BoundVariable& v, std::string_view picture);

// Reads entry text under the picture and stores it in the variable. Returns
// false, leaving the variable unchanged, when the picture cannot read the text
// or the value does not fit the variable's type. Without a picture a number
// variable takes an optional sign and digits (empty text is 0) and a string
// variable takes the text as it is. An unbound variable only checks the text.
bool StoreVariable(const BoundVariable& v, std::string_view text, std::string_view picture);

// How to type an entry under `picture`, shown while it is empty
// ("mm/dd/yyyy" for dates); "" when the picture needs no hint.
std::string EntryFormatHint(std::string_view picture);
// What an entry under `picture` says when its text cannot be read ("Type a
// date as MM/DD/YYYY" for dates); "" when there is nothing useful to say.
std::string EntryTypingHint(std::string_view picture);

// The variable as a number (0 for strings that are not numbers and unbound variables).
std::int64_t VariableNumber(const BoundVariable& v);

}  // namespace rt
