// INI files on disk: GetIni and PutIni, and the read and replace steps the
// registry store shares.
//
// Reading never fails the program. A missing file reads as empty. So does a
// damaged one (not text, or larger than kMaxIniBytes) and one that cannot be
// read (no permission, a folder or device in its place); reads then return the
// default and leave the error state clear.
//
// Writing replaces the file whole and atomically, so a reader (this process or
// another) sees either the old file or the new one, never a part:
//   1. read and parse the current file; change the document in memory;
//   2. write it to a new temporary file in the same folder
//      (".<name>.<pid>.<n>.tmp"), with the old file's permissions;
//   3. fsync the temporary file, rename it over the file, fsync the folder.
// Any failure removes the temporary file and leaves the old one untouched;
// the temporary file of a process killed in between is removed by the next
// write of that file (the writer locks its temporary file meanwhile). A
// damaged file is replaced whole by the next write, after it was kept beside
// as "<name>.damaged" ("<name>.damaged-2" and so on up to -99 when earlier
// copies are there; with all taken, or no hard link possible, the write fails
// with kAccessDenied and the file stays). A file that exists but cannot be
// read, or is read-only (no write permission, also for root), is never
// replaced: the write fails with kAccessDenied, because replacing it would
// lose what we could not see or what its owner meant to keep.
// A symbolic link is followed: the file it points to is replaced.
//
// File names may use '\' as the folder separator; it is mapped to '/'.
//
// Threading: any thread may call these. Writes in this process are serialised
// by one lock, so two threads changing the same file never lose an update.
// Writers in different processes are not coordinated (last rename wins).
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "runtime/ini/ini_document.h"

namespace rt {

inline constexpr std::size_t kMaxIniBytes = 16 * 1024 * 1024;

// The value of entry in section of file, or defaultValue when the file,
// section or entry is absent or the file cannot be read. Clears the error
// state; sets kBadRequest (and returns the default) when file is empty.
std::string GetIni(std::string_view section, std::string_view entry, std::string_view defaultValue,
                   std::string_view file);

// Sets entry in section of file to value, creating the file and the section as
// needed; with value std::nullopt it removes the entry (a missing file stays
// missing). Returns 0 and clears the error state on success; otherwise returns
// the code it also sets in the error state, with the system's reason as the
// file error text, and leaves the file as it was:
//   kBadRequest     empty file name, or a section, entry or value that cannot
//                   be stored (empty name, line break or other control
//                   character, '=' in the entry...)
//   kFileNotFound   the folder does not exist
//   kAccessDenied   the file cannot be read, is read-only, or the folder cannot
//                   be written (also disk full and other write failures)
int PutIni(std::string_view section, std::string_view entry, std::optional<std::string_view> value,
           std::string_view file);

// What reading a file found.
enum class IniReadResult { Read, Missing, Damaged, Unreadable };

// Reads and parses the file at path (already mapped to '/'). The document is
// empty unless the result is Read.
IniReadResult ReadIniFile(const std::string& path, IniDocument& document);
// The document GetIni would read `file` ('\' separators allowed) as: empty
// when the file is missing, damaged or unreadable. For a reader that looks up
// many entries of one version of the file.
IniDocument ReadIni(std::string_view file);

// Reads the file at path, lets change edit the document, and replaces the
// file atomically as described above. change returns false to leave the file
// alone (nothing to do); the result is then 0. Returns 0 or an error code as
// PutIni does, and sets the error state likewise.
int UpdateIniFile(const std::string& path, const std::function<bool(IniDocument&)>& change);

}  // namespace rt
