// Registry-mode settings in a temporary configuration home: values under
// nested keys, names that need escaping, separate roots, bad input.
#include "runtime/ini/registry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "runtime/core/error_state.h"
#include "tests/support/temp_folder.h"

namespace fs = std::filesystem;

namespace {

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(home_.empty());
    rt::SetConfigHome(home_.string());
  }
  void TearDown() override { rt::SetConfigHome(""); }
  // Every file the store holds, relative to the home.
  std::vector<std::string> StoredFiles() const {
    std::vector<std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(home_))
      if (e.is_regular_file()) files.push_back(fs::relative(e.path(), home_).string());
    std::sort(files.begin(), files.end());
    return files;
  }

  TempFolder folder_{"veltrane-reg"};
  const fs::path& home_ = folder_.Path();
};

TEST_F(RegistryTest, PutGetDeleteRoundTrip) {
  const char* key = "Software\\Veltrane\\Main";
  EXPECT_EQ(rt::GetReg(rt::kRegCurrentUser, key, "XPos"), "");
  EXPECT_EQ(rt::PutReg(rt::kRegCurrentUser, key, "XPos", "10"), 0);
  EXPECT_EQ(rt::PutReg(rt::kRegCurrentUser, key, "Maximize", "No"), 0);
  EXPECT_EQ(rt::GetReg(rt::kRegCurrentUser, key, "XPos"), "10");
  EXPECT_EQ(rt::PutReg(rt::kRegCurrentUser, key, "XPos", "11"), 0);
  EXPECT_EQ(rt::GetReg(rt::kRegCurrentUser, key, "XPos"), "11");

  EXPECT_EQ(rt::DeleteReg(rt::kRegCurrentUser, key, "XPos"), 0);
  EXPECT_EQ(rt::ErrorCode(), 0);
  EXPECT_EQ(rt::GetReg(rt::kRegCurrentUser, key, "XPos"), "");
  EXPECT_EQ(rt::GetReg(rt::kRegCurrentUser, key, "Maximize"), "No");
  EXPECT_EQ(rt::DeleteReg(rt::kRegCurrentUser, key, "XPos"), rt::kFileNotFound);
  EXPECT_EQ(rt::DeleteReg(rt::kRegCurrentUser, "Software\\Nobody", "XPos"), rt::kFileNotFound);
  EXPECT_EQ(rt::ErrorCode(), rt::kFileNotFound);

  EXPECT_EQ(StoredFiles(), std::vector<std::string>{"veltrane/registry/current-user/Software/Veltrane/Main/.values"});
  std::ifstream values(home_ / "veltrane/registry/current-user/Software/Veltrane/Main/.values");
  std::string text((std::istreambuf_iterator<char>(values)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text, "[Values]\nMaximize=No\n");
}

TEST_F(RegistryTest, NestedKeysAndRootsKeepTheirOwnValues) {
  ASSERT_EQ(rt::PutReg(rt::kRegCurrentUser, "A", "V", "a"), 0);
  ASSERT_EQ(rt::PutReg(rt::kRegCurrentUser, "A\\B", "V", "ab"), 0);
  ASSERT_EQ(rt::PutReg(rt::kRegCurrentUser, "A\\B\\C", "V", "abc"), 0);
  ASSERT_EQ(rt::PutReg(rt::kRegClassesRoot, "A\\B", "V", "classes"), 0);
  ASSERT_EQ(rt::PutReg(rt::kRegCurrentUser, "", "V", "at the root"), 0);

  EXPECT_EQ(rt::GetReg(rt::kRegCurrentUser, "A", "V"), "a");
  EXPECT_EQ(rt::GetReg(rt::kRegCurrentUser, "A\\B", "V"), "ab");
  EXPECT_EQ(rt::GetReg(rt::kRegCurrentUser, "A\\B\\C", "V"), "abc");
  EXPECT_EQ(rt::GetReg(rt::kRegClassesRoot, "A\\B", "V"), "classes");
  EXPECT_EQ(rt::GetReg(rt::kRegCurrentUser, "", "V"), "at the root");
  EXPECT_EQ(rt::GetReg(rt::kRegLocalMachine, "A\\B", "V"), "");

  EXPECT_EQ(rt::DeleteReg(rt::kRegCurrentUser, "A\\B", "V"), 0);
  EXPECT_EQ(rt::GetReg(rt::kRegCurrentUser, "A\\B", "V"), "");
  EXPECT_EQ(rt::GetReg(rt::kRegCurrentUser, "A\\B\\C", "V"), "abc");
}

TEST_F(RegistryTest, KeyPathsAndNamesIgnoreCaseAndStraySeparators) {
  ASSERT_EQ(rt::PutReg(rt::kRegCurrentUser, "Software\\Veltrane", "XPos", "5"), 0);
  EXPECT_EQ(rt::GetReg(rt::kRegCurrentUser, "\\SOFTWARE\\\\veltrane\\", "xpos"), "5");
  ASSERT_EQ(rt::PutReg(rt::kRegCurrentUser, "software\\VELTRANE", "XPOS", "6"), 0);
  EXPECT_EQ(rt::GetReg(rt::kRegCurrentUser, "Software\\Veltrane", "XPos"), "6");
  // One key folder, spelled as first written.
  EXPECT_EQ(StoredFiles(), std::vector<std::string>{"veltrane/registry/current-user/Software/Veltrane/.values"});
}

TEST_F(RegistryTest, AwkwardNamesStayDistinctAndInsideTheStore) {
  const std::vector<std::string> names = {"",    "@",    "a=b",   ".hidden", "..",   "50%", "a/b",
                                          " lead", "trail ", ";semi", "#hash",  "[br", ".values"};
  for (std::size_t i = 0; i < names.size(); ++i) {
    ASSERT_EQ(rt::PutReg(rt::kRegCurrentUser, "Names", names[i], "value " + std::to_string(i)), 0) << names[i];
    ASSERT_EQ(rt::PutReg(rt::kRegCurrentUser, "Keys\\" + names[i], "V", "key " + std::to_string(i)), 0) << names[i];
  }
  for (std::size_t i = 0; i < names.size(); ++i) {
    EXPECT_EQ(rt::GetReg(rt::kRegCurrentUser, "Names", names[i]), "value " + std::to_string(i)) << names[i];
    std::string key = names[i].empty() ? "Keys" : "Keys\\" + names[i];
    std::string expected = names[i].empty() ? "key 0" : "key " + std::to_string(i);
    EXPECT_EQ(rt::GetReg(rt::kRegCurrentUser, key, "V"), expected) << names[i];
  }
  ASSERT_EQ(rt::PutReg(rt::kRegCurrentUser, "..\\..\\..\\Escaped", "V", "x"), 0);
  EXPECT_EQ(rt::GetReg(rt::kRegCurrentUser, "..\\..\\..\\Escaped", "V"), "x");
  for (const std::string& file : StoredFiles()) EXPECT_EQ(file.rfind("veltrane/registry/current-user/", 0), 0u) << file;
}

TEST_F(RegistryTest, BadInputIsRefusedAndStoresNothing) {
  EXPECT_EQ(rt::PutReg(0x12345, "Software", "V", "x"), rt::kBadRequest);
  EXPECT_EQ(rt::ErrorCode(), rt::kBadRequest);
  EXPECT_EQ(rt::GetReg(0, "Software", "V"), "");
  EXPECT_EQ(rt::ErrorCode(), rt::kBadRequest);
  EXPECT_EQ(rt::PutReg(rt::kRegCurrentUser, "Software", "V", "x", 4), rt::kBadRequest);
  EXPECT_EQ(rt::PutReg(rt::kRegCurrentUser, "Software", "V", "two\nlines"), rt::kBadRequest);
  EXPECT_EQ(rt::PutReg(rt::kRegCurrentUser, "Software", "V", "bell\a"), rt::kBadRequest);
  EXPECT_EQ(StoredFiles(), std::vector<std::string>{});
}

TEST_F(RegistryTest, ADamagedValuesFileReadsAsEmptyAndIsReplacedByTheNextWrite) {
  ASSERT_EQ(rt::PutReg(rt::kRegCurrentUser, "K", "V", "1"), 0);
  fs::path values = home_ / "veltrane/registry/current-user/K/.values";
  std::ofstream(values, std::ios::binary) << std::string("\x01\x02\x00[Values]\nV=9\n", 15);
  EXPECT_EQ(rt::GetReg(rt::kRegCurrentUser, "K", "V"), "");
  EXPECT_EQ(rt::PutReg(rt::kRegCurrentUser, "K", "W", "2"), 0);
  EXPECT_EQ(rt::GetReg(rt::kRegCurrentUser, "K", "W"), "2");
  EXPECT_EQ(rt::GetReg(rt::kRegCurrentUser, "K", "V"), "");
}

// Sets an environment variable for one test and puts the old value back.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    ::setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (old_) ::setenv(name_, old_->c_str(), 1);
    else ::unsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST_F(RegistryTest, TheConfigurationHomeComesFromTheEnvironmentWhenNotSet) {
  rt::SetConfigHome("");
  ScopedEnv xdgVariable("XDG_CONFIG_HOME", "");
  ScopedEnv homeVariable("HOME", (home_ / "home").string());
  std::string xdg = (home_ / "xdg").string();
  ::setenv("XDG_CONFIG_HOME", xdg.c_str(), 1);
  EXPECT_EQ(rt::RegistryFolder(), xdg + "/veltrane/registry");
  ASSERT_EQ(rt::PutReg(rt::kRegCurrentUser, "K", "V", "1"), 0);
  EXPECT_TRUE(fs::exists(xdg + "/veltrane/registry/current-user/K/.values"));
  // A relative XDG_CONFIG_HOME is ignored, as the base-directory rules say.
  ::setenv("XDG_CONFIG_HOME", "relative/path", 1);
  EXPECT_EQ(rt::RegistryFolder(), (home_ / "home").string() + "/.config/veltrane/registry");
}

}  // namespace
