// A fresh folder under the system's temporary directory, removed with
// everything in it (permissions restored first) when the object goes.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>
#include <system_error>

class TempFolder {
 public:
  explicit TempFolder(const std::string& prefix) {
    std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
    if (::mkdtemp(pattern.data())) path_ = pattern;
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  ~TempFolder() {
    if (path_.empty()) return;
    namespace fs = std::filesystem;
    std::error_code ignored;
    for (auto it = fs::recursive_directory_iterator(path_, ignored); it != fs::recursive_directory_iterator();
         it.increment(ignored))
      if (!it->is_symlink(ignored)) fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(path_, ignored);
  }

  // Empty when the folder could not be made.
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};
