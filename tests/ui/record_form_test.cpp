// A record form over the real dictionary: a department form that inserts,
// changes and deletes through the Dept relation manager in a real working
// folder, with the operator answering the form's questions both ways.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "access/file_manager.h"
#include "access/file_registry.h"
#include "access/relation_manager.h"
#include "app/dictionary.h"
#include "app/globals.h"
#include "app/main_routine.h"
#include "app/schema.h"
#include "runtime/core/error_state.h"
#include "runtime/core/text.h"
#include "runtime/files/file.h"
#include "runtime/files/file_operations.h"
#include "runtime/windows/event_loop.h"
#include "runtime/windows/message_box.h"
#include "runtime/windows/window.h"
#include "tests/support/message_boxes.h"
#include "tests/support/temp_folder.h"
#include "tests/ui/ui_fixture.h"
#include "ui/window_controller.h"

namespace {

using errors::LevelBenign;
using namespace ui_test;

dataaccess::FileManager& DeptFm() { return *app::FileManagerOf(app::DeptFile()); }
dataaccess::RelationManager& DeptRm() { return *app::RelationManagerOf(app::DeptFile()); }
rt::FieldRef DeptField(const char* name) { return DeptFm().File->Field(name); }

// The department form: the description entry edits DEP:DESCRIPTION; a new
// department is "NEW" of company 1.
class DeptForm : public ui::WindowController {
 public:
  explicit DeptForm(rt::Window& window, std::string& description)
      : window_(window), description_(description) {}

  int Init() override {
    const int r = WindowController::Init();
    if (r != LevelBenign) return r;
    Errors = app::GlobalErrors();
    Primary = &DeptRm();
    OkControl = kOk;
    FirstField = kNameEntry;
    InsertAction = insertAction;
    AddButton(kCancel, ui::RequestCancelled);
    Primary->Open(0);
    FilesOpened = 1;
    const int prepared = PrepareRecord();
    if (prepared != LevelBenign) return prepared;
    description_ = std::string(rt::TrimRight(DeptField("DEP:DESCRIPTION").ToText()));
    Open(window_);
    SetAlerts();
    return LevelBenign;
  }
  int Kill() override {
    if (const int r = WindowController::Kill(); r != LevelBenign) return r;
    if (FilesOpened) Primary->Close(0);
    return LevelBenign;
  }
  void PrimeFields() override {
    DeptField("DEP:COMPANY").SetInt(1);
    DeptField("DEP:DEPT").SetString("NEW");
  }
  int HandleFieldEvent() override {
    if (rt::CurrentEvent() == rt::EventAccepted && rt::EventControl() == kNameEntry)
      DeptField("DEP:DESCRIPTION").SetString(description_);
    return LevelBenign;
  }

  std::uint8_t insertAction = 2;

 private:
  rt::Window& window_;
  std::string& description_;
};

class RecordForm : public UiFixture {
 protected:
  void SetUp() override {
    ASSERT_FALSE(folder_.Path().empty());
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(folder_.Path());
    std::filesystem::create_directory("data");
    UiFixture::SetUp();
    app::BuildGlobals();
    app::MainRegisterFiles();
    app::GlobalErrors()->Init(app::ErrorStatusVar);
    dataaccess::ThreadRegistry().Init();
    Seed({{"HR", "Human resources"}, {"OPS", "Operations"}});
    app::DictionaryInit();
  }
  void TearDown() override {
    app::MainThreadEnd();
    dataaccess::ThreadRegistry().Kill();
    app::ReleaseGlobals();
    UiFixture::TearDown();
    std::filesystem::current_path(previous_);
  }

  static void Seed(const std::vector<std::pair<std::string, std::string>>& rows) {
    rt::File file(app::DeptFile());
    rt::FileCreate(file);
    rt::FileOpen(file);
    ASSERT_EQ(rt::ErrorCode(), 0) << rt::FileErrorText();
    for (const auto& [dept, description] : rows) {
      rt::FileClear(file);
      file.Field("DEP:COMPANY").SetInt(1);
      file.Field("DEP:DEPT").SetString(dept);
      file.Field("DEP:DESCRIPTION").SetString(description);
      rt::FileAdd(file);
      ASSERT_EQ(rt::ErrorCode(), 0) << rt::FileErrorText();
    }
    rt::FileClose(file);
  }

  // "DEPT=description" of every department, through a handle of its own.
  static std::vector<std::string> Departments() {
    std::vector<std::string> rows;
    rt::File file(app::DeptFile());
    rt::FileOpen(file, rt::kAccessRead | rt::kShareDenyNone);
    rt::FileSetKey(file, 1);
    for (rt::FileNext(file); rt::ErrorCode() == 0; rt::FileNext(file))
      rows.push_back(file.Field("DEP:DEPT").ToText() + "=" +
                     file.Field("DEP:DESCRIPTION").ToText());
    rt::FileClose(file);
    return rows;
  }

  // Makes HR the current department, as a browse would before a change or
  // delete; the browse keeps the file open while the form runs.
  static void ReadHr() {
    DeptField("DEP:COMPANY").SetInt(1);
    DeptField("DEP:DEPT").SetString("HR");
    ASSERT_EQ(DeptFm().Fetch(1), LevelBenign);
  }

  TempFolder folder_{"record-form"};
  std::filesystem::path previous_;
};

struct FormCase {
  const char* What;
  std::uint8_t Request;
  std::uint8_t InsertAction;
  std::function<void(rt::HeadlessBackend&)> Operator;
  std::uint8_t Response;
  std::vector<std::string> Departments;
  std::vector<std::string> Captions;
};

TEST_F(RecordForm, InsertChangeAndDeleteWithTheQuestionsAnsweredBothWays) {
  const std::vector<FormCase> cases = {
      {"insert, no other",
       ui::RequestInsert,
       4,
       [](rt::HeadlessBackend& b) {
         b.Type("?NAME", "Night shift");
         b.Accept("?OK");
         b.Answer(rt::ButtonNo);  // add another? no: the form closes
       },
       ui::RequestCompleted,
       {"HR=Human resources", "NEW=Night shift", "OPS=Operations"},
       {"Record Added"}},
      {"insert, then another one cancelled",
       ui::RequestInsert,
       4,
       [](rt::HeadlessBackend& b) {
         b.Type("?NAME", "Night shift");
         b.Accept("?OK");
         b.Answer(rt::ButtonYes);  // a fresh record is primed; cancelling it keeps the first
         b.Accept("?CANCEL");
       },
       ui::RequestCompleted,
       {"HR=Human resources", "NEW=Night shift", "OPS=Operations"},
       {"Record Added"}},
      {"change, closed without saving",
       ui::RequestChange,
       2,
       [](rt::HeadlessBackend& b) {
         b.Type("?NAME", "People");
         b.Key(rt::KeyTab);
         b.Close();
         b.Answer(rt::ButtonNo);  // save the changes? no
       },
       ui::RequestCancelled,
       {"HR=Human resources", "OPS=Operations"},
       {"Save Record"}},
      {"change, saved on closing",
       ui::RequestChange,
       2,
       [](rt::HeadlessBackend& b) {
         b.Type("?NAME", "People");
         b.Key(rt::KeyTab);
         b.Close();
         b.Answer(rt::ButtonYes);
       },
       ui::RequestCompleted,
       {"HR=People", "OPS=Operations"},
       {"Save Record"}},
      {"delete declined",
       ui::RequestDelete,
       2,
       [](rt::HeadlessBackend& b) { b.Answer(rt::ButtonNo); },
       ui::RequestCancelled,
       {"HR=Human resources", "OPS=Operations"},
       {"Confirm Delete"}},
      {"delete confirmed",
       ui::RequestDelete,
       2,
       [](rt::HeadlessBackend& b) { b.Answer(rt::ButtonYes); },
       ui::RequestCompleted,
       {"OPS=Operations"},
       {"Confirm Delete"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.What);
    // Every case starts from the two seeded departments.
    app::DictionaryKill();
    std::filesystem::remove("data/Dept.DAT");
    Seed({{"HR", "Human resources"}, {"OPS", "Operations"}});
    app::DictionaryInit();
    const auto before = backend.MessageBoxes().size();
    DeptRm().Open(0);
    if (c.Request != ui::RequestInsert) ReadHr();

    std::string description;
    rt::Window window(FormResource(&description));
    DeptForm form(window, description);
    form.Request = c.Request;
    form.insertAction = c.InsertAction;
    c.Operator(backend);
    EXPECT_EQ(form.Run(), c.Response);
    DeptRm().Close(0);
    EXPECT_EQ(Departments(), c.Departments);
    std::vector<std::string> captions;
    const auto boxes = backend.MessageBoxes();
    for (auto i = before; i < boxes.size(); ++i) captions.push_back(boxes[i].Caption);
    EXPECT_EQ(captions, c.Captions);
    EXPECT_EQ(backend.PendingSteps(), 0u);
    EXPECT_TRUE(backend.Problems().empty()) << backend.Problems().front();
  }
}

}  // namespace
