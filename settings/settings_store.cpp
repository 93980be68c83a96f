#include "settings/settings_store.h"

#include <algorithm>
#include <charconv>
#include <mutex>

#include "runtime/core/text.h"
#include "runtime/ini/ini_file.h"
#include "runtime/ini/registry.h"
#include "runtime/windows/properties.h"
#include "runtime/windows/window.h"

namespace settings {
namespace {

std::string Cut(std::string text, std::size_t capacity) {
  if (text.size() > capacity) text.resize(capacity);
  return text;
}

// The whole text as a signed number; false for anything else.
bool ParseNumber(std::string_view text, std::int64_t& out) {
  text = rt::TrimBlanks(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return ec == std::errc() && end == text.data() + text.size() && !text.empty();
}

const char* YesNo(bool on) { return on ? "Yes" : "No"; }

// What FetchValue gives for an absent entry when asked with this default: no
// stored value can hold a NUL.
const std::string kAbsent(1, '\0');

// Field `field` (from 1) of a comma-separated value. A field past the last
// one starts the search over at the beginning.
std::string FieldOf(std::string_view value, int field) {
  std::size_t start = 0;
  for (; field > 1; --field) {
    std::size_t comma = value.find(',', start);
    start = comma == std::string_view::npos ? 0 : comma + 1;
  }
  std::size_t end = value.find(',', start);
  return std::string(value.substr(start, end == std::string_view::npos ? end : end - start));
}

}  // namespace

SettingsStore::SettingsStore() : critSect_(rt::NewCriticalSection()) {}

SettingsStore::~SettingsStore() { critSect_->Kill(); }

std::string SettingsStore::FetchValue(std::string_view section, std::string_view entry,
                                      std::string_view defaultValue, std::string_view file) {
  std::scoped_lock lock(*critSect_);
  switch (nvType_) {
    case StorageIni:
      if (snapshot_ && file == fileName_) {
        std::optional<std::string> value = snapshot_->Get(section, entry);
        return Cut(value ? std::move(*value) : std::string(defaultValue), kValueCapacity);
      }
      return Cut(rt::GetIni(section, entry, defaultValue, file), kValueCapacity);
    case StorageRegistry: {
      std::string value = rt::GetReg(Root(), KeyPath(section), entry);
      return value.empty() ? std::string(defaultValue) : value;
    }
    default:
      return {};
  }
}

void SettingsStore::UpdateValue(std::string_view section, std::string_view entry,
                                std::string_view value, std::string_view file) {
  std::scoped_lock lock(*critSect_);
  switch (nvType_) {
    case StorageIni:
      rt::PutIni(section, entry, value, file);
      break;
    case StorageRegistry:
      if (value.empty())
        DeleteValue(section, entry);
      else
        rt::PutReg(Root(), KeyPath(section), entry, value, rt::kRegString);
      break;
    default:
      break;
  }
}

void SettingsStore::AfterInit() {}

void SettingsStore::DeleteValue(std::string_view section, std::string_view entry) {
  std::scoped_lock lock(*critSect_);
  switch (nvType_) {
    case StorageIni:
      rt::PutIni(section, entry, std::nullopt, fileName_);
      break;
    case StorageRegistry:
      rt::DeleteReg(Root(), KeyPath(section), entry);
      break;
    default:
      break;
  }
}

void SettingsStore::BeforeKill() {}

void SettingsStore::Init(std::string_view fileName, int storageKind, std::uint32_t root) {
  std::scoped_lock lock(*critSect_);
  extraData_ = root;
  nvType_ = storageKind;
  fileName_ = Cut(std::string(fileName), kFileNameCapacity);
  sectors_ = std::make_unique<std::vector<Sector>>();
  AfterInit();
  bool whole = true;
  for (auto& element : FetchQueue(kBookkeepingSection, "Sectors", 3, &whole))
    sectors_->push_back(Sector{element[0], element[1], element[2]});
  damagedSectors_.reset();
  if (!whole) damagedSectors_ = *sectors_;
}

void SettingsStore::Kill() {
  std::scoped_lock lock(*critSect_);
  if (!sectors_) return;
  if (damagedSectors_ && *damagedSectors_ == *sectors_) {
    sectors_.reset();
    return;
  }
  std::vector<Element> list;
  for (const auto& s : *sectors_) list.push_back({s.Family, s.Item, s.Type});
  UpdateQueue(kBookkeepingSection, "Sectors", list);
  sectors_.reset();
}

std::string SettingsStore::Fetch(std::string_view section, std::string_view entry) {
  return FetchValue(section, entry, {}, fileName_);
}

std::string SettingsStore::FetchOrUnknown(std::string_view section, std::string_view entry) {
  return Cut(FetchValue(section, entry, kUnknownText, fileName_), kUnknownCapacity);
}

void SettingsStore::FetchInto(std::string_view section, std::string_view entry,
                              std::string& variable) {
  variable = FetchValue(section, entry, variable, fileName_);
}

void SettingsStore::FetchInto(std::string_view section, std::string_view entry,
                              std::int32_t& variable) {
  std::string text = FetchValue(section, entry, std::to_string(variable), fileName_);
  std::int64_t value = 0;
  if (ParseNumber(text, value) && value >= INT32_MIN && value <= INT32_MAX)
    variable = static_cast<std::int32_t>(value);
}

std::string SettingsStore::FetchField(std::string_view section, std::string_view entry,
                                      int field) {
  return FieldOf(FetchOrUnknown(section, entry), field);
}

void SettingsStore::Update(std::string_view section, std::string_view entry,
                           std::string_view value) {
  UpdateValue(section, entry, value, fileName_);
}

void SettingsStore::Update(std::string_view section, std::string_view entry, std::int64_t value) {
  Update(section, entry, std::to_string(value));
}

std::vector<SettingsStore::Element> SettingsStore::FetchQueue(std::string_view section,
                                                              std::string_view name, int fields,
                                                              bool* whole) {
  std::scoped_lock lock(*critSect_);
  // The count and the elements come from one read of the file: they belong
  // together, and a list of n elements costs one read, not n.
  const bool ownSnapshot = nvType_ == StorageIni && !snapshot_;
  if (ownSnapshot) snapshot_ = rt::ReadIni(fileName_);
  bool complete = true;
  std::vector<Element> list = ReadQueue(section, name, fields, complete);
  if (ownSnapshot) snapshot_.reset();
  if (whole) *whole = complete;
  return list;
}

std::vector<SettingsStore::Element> SettingsStore::ReadQueue(std::string_view section,
                                                             std::string_view name, int fields,
                                                             bool& whole) {
  std::vector<Element> list;
  std::int64_t count = 0;
  const std::string stored = Fetch(section, name);
  // No count at all is an empty list; one that is no number or negative is
  // damaged and names no element to look for.
  if (!ParseNumber(stored, count) || count < 0) {
    whole = stored.empty();
    return list;
  }
  // An absurd count is damaged too: trusting it could keep start-up reading
  // for hours, so only the elements a real list could have are looked for.
  whole = count <= kMaxQueueElements;
  count = std::min(count, kMaxQueueElements);
  std::string prefix = std::string(name) + "_";
  for (std::int64_t i = 1; i <= count; ++i) {
    // Each element is read once; a missing one is skipped, not the rest.
    std::string value = FetchValue(section, prefix + std::to_string(i), kAbsent, fileName_);
    if (value == kAbsent) {
      whole = false;
      continue;
    }
    value = Cut(std::move(value), kUnknownCapacity);
    Element element;
    for (int f = 1; f <= fields; ++f) element.push_back(FieldOf(value, f));
    list.push_back(std::move(element));
  }
  return list;
}

void SettingsStore::UpdateQueue(std::string_view section, std::string_view name,
                                const std::vector<Element>& list) {
  std::scoped_lock lock(*critSect_);
  Update(section, name, static_cast<std::int64_t>(list.size()));
  std::string prefix = std::string(name) + "_";
  for (std::size_t i = 0; i < list.size(); ++i) {
    std::string joined;
    for (std::size_t f = 0; f < list[i].size(); ++f) {
      if (f > 0) joined += ',';
      joined += list[i][f];
    }
    Update(section, prefix + std::to_string(i + 1), Cut(std::move(joined), kJoinedCapacity));
  }
}

void SettingsStore::SaveWindow(std::string_view section, const rt::Window& window) {
  std::scoped_lock lock(*critSect_);
  WindowPlacement p;
  p.Maximize = window.GetProperty(0, rt::PropMaximized).Number() != 0;
  p.Minimize = window.GetProperty(0, rt::PropIconized).Number() != 0;
  if (!p.Maximize && !p.Minimize) {
    p.XPos = static_cast<std::int32_t>(window.GetProperty(0, rt::PropXPos).Number());
    p.YPos = static_cast<std::int32_t>(window.GetProperty(0, rt::PropYPos).Number());
    if (window.GetProperty(0, rt::PropResizable).Number() != 0) {
      p.Width = static_cast<std::int32_t>(window.GetProperty(0, rt::PropWidth).Number());
      p.Height = static_cast<std::int32_t>(window.GetProperty(0, rt::PropHeight).Number());
    }
  }
  Update(section, "Maximize", YesNo(p.Maximize));
  Update(section, "Minimize", YesNo(p.Minimize));
  const std::pair<const char*, std::int32_t> values[] = {
      {"XPos", p.XPos}, {"YPos", p.YPos}, {"Width", p.Width}, {"Height", p.Height}};
  for (const auto& [entry, value] : values) {
    if (value == UnknownValue)
      DeleteValue(section, entry);
    else
      Update(section, entry, static_cast<std::int64_t>(value));
  }
}

WindowPlacement SettingsStore::ReadPlacement(std::string_view section) {
  std::scoped_lock lock(*critSect_);
  WindowPlacement p;
  std::string maximize = Fetch(section, "Maximize");
  if (maximize == "No")
    p.Maximize = false;
  else if (maximize == "Yes")
    p.Maximize = true;
  else
    return p;
  p.Minimize = Fetch(section, "Minimize") == "Yes";
  FetchInto(section, "XPos", p.XPos);
  FetchInto(section, "YPos", p.YPos);
  FetchInto(section, "Width", p.Width);
  FetchInto(section, "Height", p.Height);
  p.Valid = true;
  return p;
}

void SettingsStore::RestoreWindow(std::string_view section, rt::Window& window) {
  WindowPlacement p = ReadPlacement(section);
  if (!p.Valid) return;
  if (!p.Maximize && window.GetProperty(0, rt::PropMaximized).Number() != 0)
    window.SetProperty(0, rt::PropMaximized, std::int64_t{0});
  // An unknown position (the window was saved maximized or minimized) keeps
  // the window's designed position rather than moving it off screen.
  if (p.XPos != UnknownValue) window.SetProperty(0, rt::PropXPos, std::int64_t{p.XPos});
  if (p.YPos != UnknownValue) window.SetProperty(0, rt::PropYPos, std::int64_t{p.YPos});
  if (window.GetProperty(0, rt::PropResizable).Number() != 0) {
    if (p.Width != UnknownValue) window.SetProperty(0, rt::PropWidth, std::int64_t{p.Width});
    if (p.Height != UnknownValue) window.SetProperty(0, rt::PropHeight, std::int64_t{p.Height});
  }
  if (p.Maximize && window.GetProperty(0, rt::PropMaximized).Number() == 0)
    window.SetProperty(0, rt::PropMaximized, std::int64_t{1});
  window.SetProperty(0, rt::PropIconized, std::int64_t{p.Minimize ? 1 : 0});
}

std::vector<Sector> SettingsStore::Sectors() {
  std::scoped_lock lock(*critSect_);
  return sectors_ ? *sectors_ : std::vector<Sector>{};
}

std::uint32_t SettingsStore::Root() const { return extraData_ ? extraData_ : kDefaultRoot; }

std::string SettingsStore::KeyPath(std::string_view section) const {
  return fileName_.empty() ? std::string(section) : fileName_ + "\\" + std::string(section);
}

}  // namespace settings
