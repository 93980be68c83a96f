#include "runtime/headless/operator_script.h"

#include <cctype>
#include <charconv>
#include <optional>
#include <utility>

#include "runtime/core/text.h"
#include "runtime/windows/events.h"
#include "runtime/windows/message_box.h"

namespace rt {
namespace {

std::string_view Trim(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
  return text;
}

// Splits the first word off text.
std::string_view Word(std::string_view& text) {
  text = Trim(text);
  std::size_t end = 0;
  while (end < text.size() && !std::isspace(static_cast<unsigned char>(text[end]))) ++end;
  std::string_view word = text.substr(0, end);
  text = Trim(text.substr(end));
  return word;
}

std::optional<int> Number(std::string_view word) {
  int value = 0;
  auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value);
  if (word.empty() || error != std::errc() || end != word.data() + word.size()) return std::nullopt;
  return value;
}

const std::pair<const char*, int> kKeys[] = {
    {"TAB", KeyTab},   {"ENTER", KeyEnter}, {"ESCAPE", KeyEscape}, {"ESC", KeyEscape},
    {"LEFT", KeyLeft}, {"UP", KeyUp},       {"RIGHT", KeyRight},   {"DOWN", KeyDown},
    {"SHIFTTAB", KeyShiftTab}, {"PAGEUP", KeyPageUp}, {"PAGEDOWN", KeyPageDown},
    {"HOME", KeyHome}, {"END", KeyEnd},
};

const std::pair<const char*, int> kButtons[] = {
    {"OK", ButtonOk},         {"YES", ButtonYes},       {"NO", ButtonNo},         {"ABORT", ButtonAbort},
    {"RETRY", ButtonRetry},   {"IGNORE", ButtonIgnore}, {"CANCEL", ButtonCancel}, {"HELP", ButtonHelp},
    {"DEFAULT", 0},
};

template <std::size_t N>
std::optional<int> Named(const std::pair<const char*, int> (&table)[N], std::string_view word) {
  const std::string key = UpperCase(word);
  for (const auto& [name, value] : table)
    if (key == name) return value;
  return Number(word);
}

// The rest of a type line: quoted text keeps its blanks, otherwise trimmed.
std::string TextArgument(std::string_view rest) {
  rest = Trim(rest);
  if (rest.size() >= 2 && rest.front() == '"' && rest.back() == '"') return std::string(rest.substr(1, rest.size() - 2));
  return std::string(rest);
}

}  // namespace

bool ParseOperatorScript(std::string_view text, std::vector<ScriptStep>& steps, std::string& error) {
  std::vector<ScriptStep> parsed;
  int lineNumber = 0;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    ++lineNumber;
    line = Trim(line);
    if (line.empty() || line.front() == '#') continue;
    const std::string where = "line " + std::to_string(lineNumber) + ": ";
    std::string_view rest = line;
    const std::string command = UpperCase(Word(rest));
    ScriptStep step;
    step.Line = lineNumber;
    auto needControl = [&]() -> bool {
      step.Control = std::string(Word(rest));
      if (step.Control.empty()) {
        error = where + "'" + command + "' needs a control";
        return false;
      }
      return true;
    };
    auto needNumbers = [&](int count) -> bool {
      std::optional<int> a = Number(Word(rest));
      std::optional<int> b = count == 2 ? Number(Word(rest)) : std::optional<int>(0);
      if (!a || !b || !rest.empty()) {
        error = where + "'" + command + "' needs " + (count == 2 ? "two numbers" : "a number");
        return false;
      }
      step.Value = *a;
      step.Value2 = *b;
      return true;
    };
    auto noArguments = [&]() -> bool {
      if (rest.empty()) return true;
      error = where + "'" + command + "' takes nothing after it";
      return false;
    };
    bool ok = true;
    if (command == "EXPECT") {
      step.What = ScriptStep::Kind::Expect;
      step.Text = std::string(Word(rest));
      ok = !step.Text.empty();
      if (!ok) error = where + "'EXPECT' needs a window name";
    } else if (command == "TYPE") {
      step.What = ScriptStep::Kind::Type;
      ok = needControl();
      step.Text = TextArgument(rest);
    } else if (command == "ACCEPT") {
      step.What = ScriptStep::Kind::Accept;
      ok = needControl() && noArguments();
    } else if (command == "DOUBLE") {
      step.What = ScriptStep::Kind::DoubleClick;
      ok = needControl() && noArguments();
    } else if (command == "CLOSEDOWN") {
      step.What = ScriptStep::Kind::CloseDown;
      ok = noArguments();
    } else if (command == "KEY") {
      step.What = ScriptStep::Kind::Key;
      auto key = Named(kKeys, Word(rest));
      ok = key.has_value() && rest.empty();
      if (ok) step.Value = *key; else error = where + "'KEY' needs a key name or code";
    } else if (command == "SELECT") {
      step.What = ScriptStep::Kind::Select;
      ok = needControl() && needNumbers(1);
    } else if (command == "CLOSE") {
      step.What = ScriptStep::Kind::Close;
      ok = noArguments();
    } else if (command == "RESIZE") {
      step.What = ScriptStep::Kind::Resize;
      ok = needNumbers(2);
    } else if (command == "MOVE") {
      step.What = ScriptStep::Kind::Move;
      ok = needNumbers(2);
    } else if (command == "MAXIMIZE") {
      step.What = ScriptStep::Kind::Maximize;
      ok = noArguments();
    } else if (command == "MINIMIZE") {
      step.What = ScriptStep::Kind::Minimize;
      ok = noArguments();
    } else if (command == "RESTORE") {
      step.What = ScriptStep::Kind::Restore;
      ok = noArguments();
    } else if (command == "WAIT") {
      step.What = ScriptStep::Kind::Wait;
      ok = needNumbers(1);
      if (ok && step.Value < 0) {
        ok = false;
        error = where + "'WAIT' needs milliseconds of 0 or more";
      }
    } else if (command == "ANSWER") {
      step.What = ScriptStep::Kind::Answer;
      auto answer = Named(kButtons, Word(rest));
      ok = answer.has_value() && rest.empty();
      if (ok) step.Value = *answer; else error = where + "'ANSWER' needs a button name or value";
    } else {
      error = where + "unknown step '" + std::string(line) + "'";
      ok = false;
    }
    if (!ok) return false;
    parsed.push_back(std::move(step));
  }
  steps.insert(steps.end(), parsed.begin(), parsed.end());
  return true;
}

std::string DescribeStep(const ScriptStep& step) {
  switch (step.What) {
    case ScriptStep::Kind::Expect: return "expect " + step.Text;
    case ScriptStep::Kind::Type: return "type " + step.Control + " \"" + step.Text + "\"";
    case ScriptStep::Kind::Accept: return "accept " + step.Control;
    case ScriptStep::Kind::DoubleClick: return "double " + step.Control;
    case ScriptStep::Kind::CloseDown: return "closedown";
    case ScriptStep::Kind::Key: return "key " + std::to_string(step.Value);
    case ScriptStep::Kind::Select: return "select " + step.Control + " " + std::to_string(step.Value);
    case ScriptStep::Kind::Close: return "close";
    case ScriptStep::Kind::Resize: return "resize " + std::to_string(step.Value) + " " + std::to_string(step.Value2);
    case ScriptStep::Kind::Move: return "move " + std::to_string(step.Value) + " " + std::to_string(step.Value2);
    case ScriptStep::Kind::Maximize: return "maximize";
    case ScriptStep::Kind::Minimize: return "minimize";
    case ScriptStep::Kind::Restore: return "restore";
    case ScriptStep::Kind::Wait: return "wait " + std::to_string(step.Value);
    case ScriptStep::Kind::Answer: return "answer " + std::to_string(step.Value);
  }
  return {};
}

std::string ButtonName(int button) {
  for (const auto& [name, value] : kButtons) {
    if (value != button || value == 0) continue;
    std::string text = name;
    for (std::size_t i = 1; i < text.size(); ++i)
      text[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[i])));
    return text;
  }
  return std::to_string(button);
}

}  // namespace rt
