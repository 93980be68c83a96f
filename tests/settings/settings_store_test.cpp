// The settings store over real INI files and the registry store, in a fresh
// temporary directory per test.
#include "settings/settings_store.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "runtime/ini/ini_file.h"
#include "runtime/ini/registry.h"
#include "runtime/windows/properties.h"
#include "runtime/windows/window.h"
#include "runtime/windows/window_resource.h"
#include "tests/support/temp_folder.h"

namespace fs = std::filesystem;
using settings::SettingsStore;
using settings::UnknownValue;

namespace {

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(folder.Path().empty());
    dir = folder.Path();
    ini = (dir / "Veltrane.INI").string();
    rt::SetConfigHome((dir / "config").string());
  }
  void TearDown() override {
    rt::SetConfigHome("");
  }
  std::string FileText(const std::string& path) const {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  static rt::WindowResource Layout(bool resizable) {
    rt::WindowResource r;
    r.Name = "MAIN";
    r.Caption = "Process";
    r.Width = 200;
    r.Height = 80;
    r.X = 10;
    r.Y = 20;
    r.Resizable = resizable;
    return r;
  }
  TempFolder folder{"veltrane-settings"};
  fs::path dir;
  std::string ini;
};

TEST_F(SettingsTest, FirstRunLeavesOnlyTheBookkeepingSection) {
  SettingsStore store;
  store.Init(ini, settings::StorageIni, 0);
  EXPECT_TRUE(store.Sectors().empty());
  store.BeforeKill();
  store.Kill();
  store.Kill();  // a second Kill writes nothing more
  std::string text = FileText(ini);
  EXPECT_NE(text.find("[__Dont_Touch_Me__]"), std::string::npos) << text;
  EXPECT_NE(text.find("Sectors=0"), std::string::npos) << text;
  EXPECT_EQ(rt::GetIni("__Dont_Touch_Me__", "Sectors", "", ini), "0");
}

TEST_F(SettingsTest, ReadsAndWritesValuesAndFieldsOfTheIniFile) {
  SettingsStore store;
  store.Init(ini, settings::StorageIni, 0);
  store.Update("Main", "Name", "alpha,beta,gamma");
  EXPECT_EQ(store.Fetch("main", "NAME"), "alpha,beta,gamma");
  EXPECT_EQ(store.FetchField("Main", "Name", 1), "alpha");
  EXPECT_EQ(store.FetchField("Main", "Name", 2), "beta");
  EXPECT_EQ(store.FetchField("Main", "Name", 3), "gamma");
  EXPECT_EQ(store.Fetch("Main", "Absent"), "");
  EXPECT_EQ(store.FetchOrUnknown("Main", "Absent"), "---Unknown---");
  EXPECT_EQ(store.FetchField("Main", "Absent", 1), "---Unknown---");
  std::string kept = "as before";
  store.FetchInto("Main", "Absent", kept);
  EXPECT_EQ(kept, "as before");
  std::int32_t number = 5;
  store.Update("Main", "Bad", "12x");
  store.FetchInto("Main", "Bad", number);
  EXPECT_EQ(number, 5);
  store.DeleteValue("Main", "Name");
  EXPECT_EQ(store.Fetch("Main", "Name"), "");
}

TEST_F(SettingsTest, NumberedListsIgnoreElementsBeyondTheCount) {
  SettingsStore store;
  store.Init(ini, settings::StorageIni, 0);
  store.UpdateQueue("__Dont_Touch_Me__", "Sectors", {{"f1", "i1", "t1"}, {"f2", "i2", "t2"}});
  store.UpdateQueue("__Dont_Touch_Me__", "Sectors", {{"g1", "j1", "u1"}});
  EXPECT_EQ(rt::GetIni("__Dont_Touch_Me__", "Sectors_2", "", ini), "f2,i2,t2");  // left in place
  auto list = store.FetchQueue("__Dont_Touch_Me__", "Sectors", 3);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0], (SettingsStore::Element{"g1", "j1", "u1"}));
  rt::PutIni("L", "Items", "zz", ini);
  EXPECT_TRUE(store.FetchQueue("L", "Items", 1).empty());
  store.Kill();
  SettingsStore again;
  again.Init(ini, settings::StorageIni, 0);
  ASSERT_EQ(again.Sectors().size(), 0u);  // the first store's Kill wrote its own empty list
}

// A damaged list loads what can be read without stalling start-up (a count
// no list could have is looked through only as far as a real list goes), and
// is never written back shorter: every element stays in the file.
TEST_F(SettingsTest, DamagedListsLoadWhatIsThereAndAreNotWrittenBackShorter) {
  struct Case {
    std::string count;
    std::size_t loaded;
  };
  for (const Case& c : {Case{"5", 3}, Case{"3", 2}, Case{"2000000000", 3}, Case{"-3", 0},
                        Case{"1001", 3}}) {
    fs::remove(ini);
    rt::PutIni("__Dont_Touch_Me__", "Sectors", c.count, ini);
    rt::PutIni("__Dont_Touch_Me__", "Sectors_1", "a,b,c", ini);
    rt::PutIni("__Dont_Touch_Me__", "Sectors_2", "d,e,f", ini);
    rt::PutIni("__Dont_Touch_Me__", "Sectors_4", "g,h,i", ini);
    SettingsStore store;
    store.Init(ini, settings::StorageIni, 0);
    EXPECT_EQ(store.Sectors().size(), c.loaded) << c.count;
    store.Kill();
    EXPECT_EQ(rt::GetIni("__Dont_Touch_Me__", "Sectors", "", ini), c.count);
    EXPECT_EQ(rt::GetIni("__Dont_Touch_Me__", "Sectors_4", "", ini), "g,h,i") << c.count;
  }
}

TEST_F(SettingsTest, SectorsSurviveBetweenRuns) {
  rt::PutIni("__Dont_Touch_Me__", "Sectors", "2", ini);
  rt::PutIni("__Dont_Touch_Me__", "Sectors_1", "a,b,c", ini);
  rt::PutIni("__Dont_Touch_Me__", "Sectors_2", "d,e,f", ini);
  {
    SettingsStore store;
    store.Init(ini, settings::StorageIni, 0);
    auto sectors = store.Sectors();
    ASSERT_EQ(sectors.size(), 2u);
    EXPECT_EQ(sectors[1].Family + sectors[1].Item + sectors[1].Type, "def");
    store.Kill();
  }
  EXPECT_EQ(rt::GetIni("__Dont_Touch_Me__", "Sectors_1", "", ini), "a,b,c");
  EXPECT_EQ(rt::GetIni("__Dont_Touch_Me__", "Sectors", "", ini), "2");
}

TEST_F(SettingsTest, ADamagedFileReadsAsEmptyAndIsReplacedOnTheNextWrite) {
  std::mt19937 random(7);
  {
    std::ofstream out(ini, std::ios::binary);
    for (int i = 0; i < 4096; ++i) out.put(static_cast<char>(random()));
  }
  SettingsStore store;
  store.Init(ini, settings::StorageIni, 0);
  EXPECT_EQ(store.Fetch("Main", "Maximize"), "");
  EXPECT_TRUE(store.Sectors().empty());
  store.Kill();
  EXPECT_EQ(rt::GetIni("__Dont_Touch_Me__", "Sectors", "", ini), "0");
}

TEST_F(SettingsTest, TwoStoresInTwoFoldersStayApart) {
  fs::create_directories(dir / "a");
  fs::create_directories(dir / "b");
  SettingsStore a, b;
  a.Init((dir / "a" / "Veltrane.INI").string(), settings::StorageIni, 0);
  b.Init((dir / "b" / "Veltrane.INI").string(), settings::StorageIni, 0);
  a.Update("Main", "XPos", "1");
  b.Update("Main", "XPos", "2");
  EXPECT_EQ(a.Fetch("Main", "XPos"), "1");
  EXPECT_EQ(b.Fetch("Main", "XPos"), "2");
}

TEST_F(SettingsTest, StorageKindTwoReadsEmptyAndWritesNothing) {
  SettingsStore store;
  store.Init(ini, settings::StorageNone, 0);
  store.Update("Main", "X", "1");
  EXPECT_EQ(store.Fetch("Main", "X"), "");
  store.Kill();
  EXPECT_FALSE(fs::exists(ini));
}

TEST_F(SettingsTest, RegistryModeUsesSectionsAsSubkeysAndDeletesEmptyValues) {
  SettingsStore store;
  store.Init("Software\\Veltrane", settings::StorageRegistry, 0);
  store.Update("Main", "XPos", "40");
  EXPECT_EQ(rt::GetReg(SettingsStore::kDefaultRoot, "Software\\Veltrane\\Main", "XPos"), "40");
  EXPECT_EQ(store.Fetch("Main", "XPos"), "40");
  store.Update("Main", "XPos", "");
  EXPECT_EQ(rt::GetReg(SettingsStore::kDefaultRoot, "Software\\Veltrane\\Main", "XPos"), "");
  EXPECT_EQ(store.FetchOrUnknown("Main", "XPos"), "---Unknown---");

  SettingsStore bare;
  bare.Init("", settings::StorageRegistry, 0x80000001u);
  bare.Update("Main", "YPos", "7");
  EXPECT_EQ(rt::GetReg(0x80000001u, "Main", "YPos"), "7");
}

TEST_F(SettingsTest, MaximizedWindowSavesNoPositionAndRestoresMaximized) {
  SettingsStore store;
  store.Init(ini, settings::StorageIni, 0);
  store.Update("Main", "XPos", "3");  // left from an earlier run
  {
    rt::Window window(Layout(true));
    window.SetProperty(0, rt::PropMaximized, 1);
    store.SaveWindow("Main", window);
  }
  EXPECT_EQ(store.Fetch("Main", "Maximize"), "Yes");
  EXPECT_EQ(store.Fetch("Main", "Minimize"), "No");
  for (auto entry : {"XPos", "YPos", "Width", "Height"})
    EXPECT_EQ(store.FetchOrUnknown("Main", entry), "---Unknown---") << entry;
  rt::Window reopened(Layout(true));
  store.RestoreWindow("Main", reopened);
  EXPECT_EQ(reopened.GetProperty(0, rt::PropMaximized).Number(), 1);
  reopened.SetProperty(0, rt::PropMaximized, 0);
  EXPECT_EQ(reopened.GetProperty(0, rt::PropXPos).Number(), 10);  // designed position kept
}

TEST_F(SettingsTest, FixedSizeWindowSavesPositionButNotSize) {
  SettingsStore store;
  store.Init(ini, settings::StorageIni, 0);
  rt::Window window(Layout(false));
  window.SetProperty(0, rt::PropXPos, 33);
  window.SetProperty(0, rt::PropYPos, 44);
  store.SaveWindow("SelectLastDate", window);
  EXPECT_EQ(store.Fetch("SelectLastDate", "XPos"), "33");
  EXPECT_EQ(store.Fetch("SelectLastDate", "YPos"), "44");
  EXPECT_EQ(store.FetchOrUnknown("SelectLastDate", "Width"), "---Unknown---");
  auto p = store.ReadPlacement("SelectLastDate");
  EXPECT_TRUE(p.Valid);
  EXPECT_EQ(p.Width, UnknownValue);
  rt::Window reopened(Layout(false));
  store.RestoreWindow("SelectLastDate", reopened);
  EXPECT_EQ(reopened.GetProperty(0, rt::PropXPos).Number(), 33);
  EXPECT_EQ(reopened.GetProperty(0, rt::PropWidth).Number(), 200);
}

TEST_F(SettingsTest, ResizableWindowRoundTripsItsSize) {
  SettingsStore store;
  store.Init(ini, settings::StorageIni, 0);
  rt::Window window(Layout(true));
  window.SetProperty(0, rt::PropWidth, 300);
  window.SetProperty(0, rt::PropHeight, 120);
  store.SaveWindow("Main", window);
  rt::Window reopened(Layout(true));
  store.RestoreWindow("Main", reopened);
  EXPECT_EQ(reopened.GetProperty(0, rt::PropWidth).Number(), 300);
  EXPECT_EQ(reopened.GetProperty(0, rt::PropHeight).Number(), 120);
  EXPECT_EQ(reopened.GetProperty(0, rt::PropMaximized).Number(), 0);
}

TEST_F(SettingsTest, LowerCaseYesCountsAsNothingSaved) {
  SettingsStore store;
  store.Init(ini, settings::StorageIni, 0);
  store.Update("Main", "Maximize", "yes");
  store.Update("Main", "XPos", "99");
  EXPECT_FALSE(store.ReadPlacement("Main").Valid);
  rt::Window window(Layout(true));
  store.RestoreWindow("Main", window);
  EXPECT_EQ(window.GetProperty(0, rt::PropXPos).Number(), 10);
}

}  // namespace
