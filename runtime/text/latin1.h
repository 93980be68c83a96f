// Record text is Latin-1, one byte a character; databases and CSV files hold
// UTF-8. These convert between the two.
#pragma once

#include <string>
#include <string_view>

namespace rt {

std::string Latin1ToUtf8(std::string_view latin1);
// A character Latin-1 has not (or a byte that is not UTF-8) becomes '?'.
std::string Utf8ToLatin1(std::string_view utf8);
// False when the text holds a character Latin-1 has not, or is not UTF-8.
bool Utf8ToLatin1Exact(std::string_view utf8, std::string& latin1);

}  // namespace rt
