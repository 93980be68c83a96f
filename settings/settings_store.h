// Named settings kept between runs: text values under a section and an entry,
// in an INI file, in the registry store, or nowhere (storage kind 2), plus
// numbered lists and saved window placements built on them.
//
// Every read and write goes straight to the file or store; nothing is cached
// but the bookkeeping list Sectors, loaded by Init and written back by Kill.
// A damaged stored list (elements missing, a count past what any list could
// hold) loads what can be read and is not written back unless the program
// changed it: writing the shorter list would lose the rest for good.
// (A numbered list is read from one read of the file, so that its elements
// come from one version of it and its cost does not grow with the square of
// its length.)
// Threading: every access takes the store's re-entrant lock; the operations
// nest (UpdateQueue -> Update -> UpdateValue) while holding it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/core/critical_section.h"
#include "runtime/ini/ini_document.h"

namespace rt {
class Window;
}

namespace settings {

inline constexpr int StorageIni = 0;
inline constexpr int StorageRegistry = 1;
inline constexpr int StorageNone = 2;

// A saved position or size that is not known.
inline constexpr std::int32_t UnknownValue = static_cast<std::int32_t>(0x80000000u);

struct WindowPlacement {
  std::int32_t XPos = UnknownValue;
  std::int32_t YPos = UnknownValue;
  std::int32_t Width = UnknownValue;
  std::int32_t Height = UnknownValue;
  bool Maximize = false;
  bool Minimize = false;
  bool Valid = false;
};

// One element of the bookkeeping list.
struct Sector {
  std::string Family;
  std::string Item;
  std::string Type;
  friend bool operator==(const Sector&, const Sector&) = default;
};

class SettingsStore {
 public:
  static constexpr std::size_t kFileNameCapacity = 259;
  static constexpr std::size_t kValueCapacity = 1023;
  static constexpr std::size_t kUnknownCapacity = 999;
  static constexpr std::size_t kJoinedCapacity = 4999;
  inline static const std::string kUnknownText = "---Unknown---";
  inline static const std::string kBookkeepingSection = "__Dont_Touch_Me__";
  static constexpr std::uint32_t kDefaultRoot = 0x80000000u;

  SettingsStore();
  virtual ~SettingsStore();
  SettingsStore(const SettingsStore&) = delete;
  SettingsStore& operator=(const SettingsStore&) = delete;

  // Virtual operations, in their fixed order (the destructor comes first).
  virtual std::string FetchValue(std::string_view section, std::string_view entry,
                                 std::string_view defaultValue, std::string_view file);
  virtual void UpdateValue(std::string_view section, std::string_view entry,
                           std::string_view value, std::string_view file);
  virtual void AfterInit();
  virtual void DeleteValue(std::string_view section, std::string_view entry);
  virtual void BeforeKill();

  void Init(std::string_view fileName, int storageKind, std::uint32_t root);
  // Writes Sectors back; a second Kill does nothing.
  void Kill();

  std::string Fetch(std::string_view section, std::string_view entry);
  std::string FetchOrUnknown(std::string_view section, std::string_view entry);
  // Reads into `variable`; an absent entry (or, for numbers, text that is not
  // a number) leaves it as it was.
  void FetchInto(std::string_view section, std::string_view entry, std::string& variable);
  void FetchInto(std::string_view section, std::string_view entry, std::int32_t& variable);
  std::string FetchField(std::string_view section, std::string_view entry, int field);
  void Update(std::string_view section, std::string_view entry, std::string_view value);
  void Update(std::string_view section, std::string_view entry, std::int64_t value);

  // Numbered lists of up to four text fields per element.
  using Element = std::vector<std::string>;
  // A count above this marks a damaged list: nothing writes lists that long,
  // so only this many elements are looked for.
  static constexpr std::int64_t kMaxQueueElements = 1000;
  // Loads `fields` fields (1..4) of each element present among the first
  // `count` (at most kMaxQueueElements); a missing element is skipped. A
  // count that is not a number or negative loads an empty list. `whole`, when
  // given, tells whether the stored list read back complete.
  std::vector<Element> FetchQueue(std::string_view section, std::string_view name, int fields,
                                  bool* whole = nullptr);
  void UpdateQueue(std::string_view section, std::string_view name,
                   const std::vector<Element>& list);

  void SaveWindow(std::string_view section, const rt::Window& window);
  void RestoreWindow(std::string_view section, rt::Window& window);
  // The placement stored for a section (Valid false when nothing was saved).
  WindowPlacement ReadPlacement(std::string_view section);

  const std::string& FileName() const { return fileName_; }
  int NVType() const { return nvType_; }
  // A copy of the bookkeeping list.
  std::vector<Sector> Sectors();

 private:
  // The body of FetchQueue; the caller holds the lock.
  std::vector<Element> ReadQueue(std::string_view section, std::string_view name, int fields,
                                 bool& whole);
  std::uint32_t Root() const;
  std::string KeyPath(std::string_view section) const;

  std::string fileName_;
  std::unique_ptr<std::vector<Sector>> sectors_;  // guarded by critSect_; null outside Init..Kill
  // Sectors as loaded, when the stored list was damaged: Kill leaves the
  // store alone while the list is still this. Guarded by critSect_.
  std::optional<std::vector<Sector>> damagedSectors_;
  int nvType_ = StorageIni;
  std::uint32_t extraData_ = 0;
  // While FetchQueue reads a list: the INI file as read once at its start,
  // which FetchValue reads instead of the file. Guarded by critSect_.
  std::optional<rt::IniDocument> snapshot_;
  std::unique_ptr<rt::CriticalSection> critSect_;
};

}  // namespace settings
