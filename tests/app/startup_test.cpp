// Start-up and shutdown of the program: the order of the main module's hooks,
// the order files are discarded in, and per-thread copies on a second thread.
// The main routine runs its purge on an empty punch file, the cut-off dialog
// answered through the headless backend.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/dictionary.h"
#include "app/globals.h"
#include "app/main_routine.h"
#include "app/schema.h"
#include "runtime/core/error_state.h"
#include "runtime/core/program.h"
#include "runtime/files/file.h"
#include "runtime/files/file_operations.h"
#include "runtime/headless/headless_backend.h"
#include "runtime/windows/backend.h"
#include "tests/support/temp_folder.h"

namespace {

std::vector<std::string> events;

// Records when a file is discarded, and whether the thread's ErrorStatus was
// already gone at that moment.
class DestroyWitness : public rt::FileCallbackReceiver {
 public:
  explicit DestroyWitness(std::string label) : label_(std::move(label)) {}
  void BeforeFileOperation(int op, const rt::FileOperationParams&) override {
    if (op != rt::kOpDestroy) return;
    if (!dictionaryGoneLogged && app::FileManagerOf(app::TimecardFile()) == nullptr &&
        app::RelationManagerOf(app::TimecardFile()) == nullptr) {
      events.push_back("dictionary torn down");
      dictionaryGoneLogged = true;
    }
    if (!app::ErrorStatusVar.Exists() && !statusGoneLogged) {
      events.push_back("ErrorStatus destroyed");
      statusGoneLogged = true;
    }
    events.push_back("destroy " + label_);
  }
  void AfterFileOperation(int, const rt::FileOperationParams&) override {}
  static inline bool statusGoneLogged = false;
  static inline bool dictionaryGoneLogged = false;

 private:
  std::string label_;
};

// A module after the main one, so its hooks show where the main module's ran.
rt::Module Observer() {
  return {"observer",
          [] { events.push_back(app::GlobalTextMatcher() ? "constructed" : "construct missing"); },
          [] { events.push_back("destruct"); },
          [] { events.push_back("thread start " + std::to_string(rt::ThreadNumber())); },
          [] { events.push_back("thread end " + std::to_string(rt::ThreadNumber())); },
          {}};
}

// An empty punch file in a fresh working folder, made inside the frame.
void MakeEmptyPunchFile() {
  std::filesystem::create_directories("data");
  rt::FileCreate(rt::FileOf(app::TimecardFile()));
  ASSERT_EQ(rt::ErrorCode(), 0) << rt::ErrorText();
}

class Startup : public ::testing::Test {
 protected:
  void SetUp() override {
    events.clear();
    DestroyWitness::statusGoneLogged = false;
    DestroyWitness::dictionaryGoneLogged = false;
    ASSERT_FALSE(folder.Path().empty());
    previous = std::filesystem::current_path();
    std::filesystem::current_path(folder.Path());
    backend.Type("?LASTDATE", "12/31/2023");
    backend.Accept("?OK");
    rt::SetBackend(&backend);
  }
  void TearDown() override {
    rt::RuntimeExit();
    rt::SetBackend(nullptr);
    std::filesystem::current_path(previous);
  }

  TempFolder folder{"veltrane-startup"};
  std::filesystem::path previous;
  rt::HeadlessBackend backend;
};

TEST_F(Startup, HooksRunInOrderAndFilesAreDiscardedAliasFirst) {
  auto modules = app::ModuleTable();
  modules.push_back(Observer());
  ASSERT_NE(rt::RuntimeInit(modules), 0);
  std::vector<std::unique_ptr<DestroyWitness>> witnesses;
  rt::RuntimeStart([&] {
    events.push_back("main");
    MakeEmptyPunchFile();
    for (const auto* decl : app::AllFiles()) {
      EXPECT_TRUE(rt::IsThreadFile(*decl)) << decl->Label();
      witnesses.push_back(std::make_unique<DestroyWitness>(decl->Label()));
      rt::FileCallback(rt::FileOf(*decl), witnesses.back().get(), 0);
    }
    app::MainRoutine();
  });
  // Teardown runs in reverse table order, so the observer (listed after the
  // main module) ends first; the thread's ErrorStatus is gone before the
  // first file is discarded.
  std::vector<std::string> expected = {
      "constructed",           "thread start 1",        "main",
      "thread end 1",          "dictionary torn down",  "ErrorStatus destroyed",
      "destroy AliasTimeCard",
      "destroy HOS",           "destroy OtherHrsTrx",   "destroy HTimecard",
      "destroy EmpMisPC",      "destroy PayType",       "destroy HOtherTrx",
      "destroy Employee",      "destroy Dept",          "destroy EmpAnnualized",
      "destroy Timecard",      "destruct"};
  EXPECT_EQ(events, expected);
  EXPECT_EQ(app::GlobalTextMatcher(), nullptr);
}

TEST_F(Startup, MainRoutineSetsTheTextMatcherOptions) {
  ASSERT_NE(rt::RuntimeInit(app::ModuleTable()), 0);
  bool option1 = false, option2 = true, initialised = true;
  rt::RuntimeStart([&] {
    MakeEmptyPunchFile();
    app::MainRoutine();
    option1 = app::GlobalTextMatcher()->Option(1);
    option2 = app::GlobalTextMatcher()->Option(2);
    initialised = app::GlobalTextMatcher()->Initialized();
  });
  EXPECT_TRUE(option1);
  EXPECT_FALSE(option2);
  EXPECT_FALSE(initialised);  // killed at the end of the main routine
}

TEST_F(Startup, SecondThreadGetsItsOwnPerThreadObjects) {
  auto modules = app::ModuleTable();
  modules.push_back(Observer());
  ASSERT_NE(rt::RuntimeInit(modules), 0);
  struct Seen {
    int number = 0;
    std::uint8_t request = 99;
    std::int32_t vcr = 99;
    const void* status = nullptr;
    const void* timecard = nullptr;
    std::string fileName;
  } mine, theirs;
  rt::RuntimeStart([&] {
    rt::ThreadInstance(app::GlobalRequest) = 6;
    rt::ThreadInstance(app::VCRRequest) = 3;
    rt::ThreadInstance(app::ErrorStatusVar).FileName = "Timecard";
    mine.status = &rt::ThreadInstance(app::ErrorStatusVar);
    mine.timecard = &rt::FileOf(app::TimecardFile());
    auto t = rt::StartThread([&] {
      theirs.number = rt::ThreadNumber();
      theirs.request = rt::ThreadInstance(app::GlobalRequest);
      theirs.vcr = rt::ThreadInstance(app::VCRRequest);
      theirs.status = &rt::ThreadInstance(app::ErrorStatusVar);
      theirs.fileName = rt::ThreadInstance(app::ErrorStatusVar).FileName;
      theirs.timecard = &rt::FileOf(app::TimecardFile());
    });
    t.Join();
    mine.request = rt::ThreadInstance(app::GlobalRequest);
  });
  EXPECT_EQ(theirs.number, 2);
  EXPECT_EQ(theirs.request, 0);
  EXPECT_EQ(theirs.vcr, 0);
  EXPECT_EQ(theirs.fileName, "");
  EXPECT_NE(theirs.status, mine.status);
  EXPECT_NE(theirs.timecard, mine.timecard);
  EXPECT_EQ(mine.request, 6);
  EXPECT_NE(std::find(events.begin(), events.end(), "thread start 2"), events.end());
  EXPECT_NE(std::find(events.begin(), events.end(), "thread end 2"), events.end());
}

}  // namespace
