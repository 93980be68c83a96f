#include "runtime/ini/registry.h"

#include <dirent.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <system_error>
#include <vector>

#include "runtime/core/error_state.h"
#include "runtime/ini/ini_file.h"

namespace rt {
namespace {

constexpr std::string_view kProgramFolder = "veltrane";
constexpr std::string_view kValuesFile = ".values";
constexpr std::string_view kValuesSection = "Values";

struct ConfigOverride {
  std::mutex lock;
  std::string home;  // guarded by lock
};

ConfigOverride& Override() {
  static ConfigOverride value;
  return value;
}

std::string ConfigHome() {
  {
    std::lock_guard<std::mutex> hold(Override().lock);
    if (!Override().home.empty()) return Override().home;
  }
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && xdg[0] == '/') return xdg;
  const char* home = std::getenv("HOME");
  if (home && home[0] != '\0') return std::string(home) + "/.config";
  std::vector<char> buffer(16384);
  struct passwd entry {};
  struct passwd* found = nullptr;
  if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir)
    return std::string(found->pw_dir) + "/.config";
  return {};
}

std::string_view RootFolder(std::uint32_t root) {
  switch (root) {
    case kRegClassesRoot: return "classes-root";
    case kRegCurrentUser: return "current-user";
    case kRegLocalMachine: return "local-machine";
    case kRegUsers: return "users";
    case kRegPerformanceData: return "performance-data";
    case kRegCurrentConfig: return "current-config";
    case kRegDynData: return "dyn-data";
    default: return {};
  }
}

// One stored name for any key or value name (see the layout in the header).
std::string Escape(std::string_view name) {
  if (name.empty()) return "@";
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(name.size());
  for (std::size_t i = 0; i < name.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(name[i]);
    bool first = i == 0;
    bool last = i + 1 == name.size();
    bool escape = c < 0x20 || c == 0x7f || c == '%' || c == '/' || c == '=' ||
                  (first && (c == '.' || c == ';' || c == '#' || c == '[' || c == '@' || c == ' ')) ||
                  (last && c == ' ');
    if (escape) {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0xf];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::vector<std::string_view> SplitKeyPath(std::string_view keyPath) {
  std::vector<std::string_view> parts;
  while (!keyPath.empty()) {
    std::size_t cut = keyPath.find('\\');
    std::string_view part = keyPath.substr(0, cut);
    if (!part.empty()) parts.push_back(part);
    keyPath.remove_prefix(cut == keyPath.npos ? keyPath.size() : cut + 1);
  }
  return parts;
}

// The entry of folder whose name is stored, ignoring case; empty when none.
std::string FindChild(const std::string& folder, const std::string& stored) {
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return {};
  std::string found;
  while (struct dirent* entry = ::readdir(dir)) {
    if (SameIniName(entry->d_name, stored)) {
      found = entry->d_name;
      if (found == stored) break;  // an exact match wins over a case variant
    }
  }
  ::closedir(dir);
  return found;
}

int MakeFolder(const std::string& folder, mode_t mode = 0777) {
  if (::mkdir(folder.c_str(), mode) == 0 || errno == EEXIST) return 0;
  return errno;
}

// Makes the configuration home and any missing folder above it, private to
// the user as the base-directory rules ask. Returns 0 or errno.
int MakeConfigHome(const std::string& home) {
  for (std::size_t cut = home.find('/', 1); ; cut = home.find('/', cut + 1)) {
    std::string prefix = home.substr(0, cut);
    if (int reason = MakeFolder(prefix, 0700)) return reason;
    if (cut == home.npos) return 0;
  }
}

int FailFolder(const std::string& folder, int reason) {
  int code = (reason == ENOENT || reason == ENOTDIR) ? kFileNotFound : kAccessDenied;
  SetError(code, folder, std::to_string(reason), std::error_code(reason, std::generic_category()).message());
  return code;
}

// Finds (and with create, makes) the folder of key keyPath under root.
// Returns 0, kBadRequest, kFileNotFound (key absent and not created) or a
// folder-creation failure; only failures of creation set the error state.
int KeyFolder(std::uint32_t root, std::string_view keyPath, bool create, std::string& folder) {
  std::string_view rootName = RootFolder(root);
  std::string home = ConfigHome();
  if (rootName.empty() || home.empty()) return kBadRequest;
  folder = home;
  if (create) {
    if (int reason = MakeConfigHome(home)) return FailFolder(home, reason);
  }
  for (std::string_view level : {kProgramFolder, std::string_view("registry"), rootName}) {
    folder += '/';
    folder += level;
    if (create) {
      if (int reason = MakeFolder(folder)) return FailFolder(folder, reason);
    }
  }
  for (std::string_view part : SplitKeyPath(keyPath)) {
    std::string stored = Escape(part);
    std::string existing = FindChild(folder, stored);
    if (!existing.empty()) {
      folder += '/' + existing;
      continue;
    }
    if (!create) return kFileNotFound;
    folder += '/' + stored;
    if (int reason = MakeFolder(folder)) return FailFolder(folder, reason);
  }
  return 0;
}

}  // namespace

std::string GetReg(std::uint32_t root, std::string_view keyPath, std::string_view valueName) {
  std::string folder;
  int code = KeyFolder(root, keyPath, false, folder);
  if (code == kBadRequest) {
    SetError(kBadRequest);
    return {};
  }
  ClearError();
  if (code != 0) return {};
  IniDocument document;
  ReadIniFile(folder + "/" + std::string(kValuesFile), document);
  return document.Get(kValuesSection, Escape(valueName)).value_or(std::string());
}

int PutReg(std::uint32_t root, std::string_view keyPath, std::string_view valueName, std::string_view value,
           int type) {
  if (type != kRegString || !IniDocument::ValidValue(value)) {
    SetError(kBadRequest);
    return kBadRequest;
  }
  std::string folder;
  int code = KeyFolder(root, keyPath, true, folder);
  if (code == kBadRequest) SetError(kBadRequest);
  if (code != 0) return code;
  std::string name = Escape(valueName);
  return UpdateIniFile(folder + "/" + std::string(kValuesFile), [&](IniDocument& document) {
    if (document.Get(kValuesSection, name) == value) return false;
    document.Set(kValuesSection, name, value);
    return true;
  });
}

int DeleteReg(std::uint32_t root, std::string_view keyPath, std::string_view valueName) {
  std::string folder;
  int code = KeyFolder(root, keyPath, false, folder);
  if (code != 0) {
    SetError(code, folder);
    return code;
  }
  std::string file = folder + "/" + std::string(kValuesFile);
  std::string name = Escape(valueName);
  bool removed = false;
  code = UpdateIniFile(file, [&](IniDocument& document) { return removed = document.Remove(kValuesSection, name); });
  if (code != 0) return code;
  if (!removed) {
    SetError(kFileNotFound, file);
    return kFileNotFound;
  }
  return 0;
}

void SetConfigHome(std::string path) {
  std::lock_guard<std::mutex> hold(Override().lock);
  Override().home = std::move(path);
}

std::string RegistryFolder() {
  std::string home = ConfigHome();
  if (home.empty()) return {};
  return home + "/" + std::string(kProgramFolder) + "/registry";
}

}  // namespace rt
