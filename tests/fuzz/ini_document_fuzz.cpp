// The settings file reader and writer. Input: a change to make, then a NUL,
// then the file text ("Main\nXPos\n12\0[Main]\nXPos=1\n"). The change is three
// lines, section, key and value; without a NUL the whole input is the file
// and the change is Main, XPos, 1.
//
// Promises: a file that reads reads the same after it is written back; a
// change the writer accepts (the Valid* checks) reads back exactly, from the
// document and from the text written for it; a removal leaves nothing to read.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "runtime/ini/ini_document.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

std::string_view Line(std::string_view& text) {
  const auto end = text.find('\n');
  std::string_view line = text.substr(0, end);
  text.remove_prefix(end == text.npos ? text.size() : end + 1);
  return line;
}

// The document read back from the text it writes.
rt::IniDocument Reread(const rt::IniDocument& document, std::string_view input) {
  auto again = rt::IniDocument::Parse(document.Text());
  if (!again) fuzz::Broken("the text a document writes reads as a settings file", input);
  return *again;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input = fuzz::Text(data, size);
  std::string_view file = input;
  std::string_view section = "Main", key = "XPos", value = "1";
  if (const auto nul = input.find('\0'); nul != input.npos) {
    std::string_view change = input.substr(0, nul);
    file = input.substr(nul + 1);
    section = Line(change);
    key = Line(change);
    value = change;
  }
  auto document = rt::IniDocument::Parse(file);
  if (!document) return 0;  // damaged: read as empty, replaced whole by the next write

  const rt::IniDocument written = Reread(*document, input);
  if (written.Text() != document->Text())
    fuzz::Broken("writing a file back a second time changes nothing", input);
  if (written.Get(section, key) != document->Get(section, key))
    fuzz::Broken("an entry reads the same after the file is written back", input);

  if (!rt::IniDocument::ValidSection(section) || !rt::IniDocument::ValidKey(key)) return 0;
  if (rt::IniDocument::ValidValue(value)) {
    document->Set(section, key, value);
    if (document->Get(section, key) != value) fuzz::Broken("a value set reads back", input);
    if (Reread(*document, input).Get(section, key) != value)
      fuzz::Broken("a value set reads back from the file written", input);
  }
  document->Remove(section, key);
  if (document->Get(section, key) || Reread(*document, input).Get(section, key))
    fuzz::Broken("a removed entry is gone", input);
  return 0;
}
