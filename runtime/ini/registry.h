// Registry-mode settings: GetReg, PutReg and DeleteReg over a folder tree in
// the user's configuration directory.
//
// Layout (every name as given, matched without regard to case):
//   <config home>/veltrane/registry/<root>/<key>/<subkey>/.../.values
// <config home> is what SetConfigHome set, else $XDG_CONFIG_HOME when it is an
// absolute path, else $HOME/.config. <root> names the root key: classes-root,
// current-user, local-machine, users, performance-data, current-config,
// dyn-data. A key path is split at '\'; empty parts are ignored, so
// "Software\\Veltrane\\" and "\Software\Veltrane" are the same key. Each key is a
// folder; its values live in the INI file ".values" in that folder, section
// [Values], one entry per value, and are written atomically as INI files are.
// Folder and value names are stored escaped so that any name stays one plain
// name: '%', '/', '=', control bytes, a leading '.', ';', '#', '[', '@' or
// blank and a trailing blank become %XX (upper-case hex); the empty value name
// is stored as "@". Folders and value names that differ only in case are the
// same; a new folder takes the spelling of its first writer.
//
// Only string values (kRegString) are supported.
//
// Threading: any thread may call these; writes are serialised as for INI files.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace rt {

inline constexpr std::uint32_t kRegClassesRoot = 0x80000000u;
inline constexpr std::uint32_t kRegCurrentUser = 0x80000001u;
inline constexpr std::uint32_t kRegLocalMachine = 0x80000002u;
inline constexpr std::uint32_t kRegUsers = 0x80000003u;
inline constexpr std::uint32_t kRegPerformanceData = 0x80000004u;
inline constexpr std::uint32_t kRegCurrentConfig = 0x80000005u;
inline constexpr std::uint32_t kRegDynData = 0x80000006u;

// Value types; only strings are stored.
inline constexpr int kRegString = 1;

// The string value valueName of key keyPath under root; empty when the key or
// value is absent or the store cannot be read. Clears the error state; sets
// kBadRequest (and returns empty) for an unknown root.
std::string GetReg(std::uint32_t root, std::string_view keyPath, std::string_view valueName);

// Stores value as valueName of key keyPath under root, creating the key's
// folders as needed. Returns 0 and clears the error state, or returns and sets:
//   kBadRequest     unknown root, a type other than kRegString, a value with a
//                   line break or other control character but tab, no
//                   configuration directory known
//   kFileNotFound / kAccessDenied   as PutIni, for the folders and the file
int PutReg(std::uint32_t root, std::string_view keyPath, std::string_view valueName, std::string_view value,
           int type = kRegString);

// Removes valueName from key keyPath under root. Returns 0 and clears the
// error state; kFileNotFound when the key or the value is not there; the
// other codes as PutReg.
int DeleteReg(std::uint32_t root, std::string_view keyPath, std::string_view valueName);

// Points the store at another configuration home (tests use a temporary
// folder); an empty path goes back to the environment's. Process-wide.
void SetConfigHome(std::string path);

// The folder holding the registry store ("<config home>/veltrane/registry"),
// or empty when no configuration directory is known.
std::string RegistryFolder();

}  // namespace rt
