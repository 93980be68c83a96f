// Reporting through the error manager: table lookups, placeholders, levels,
// silent and history modes, fatal ends, and per-thread context.
#include "errors/error_manager.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "errors/default_errors.h"
#include "runtime/core/error_state.h"
#include "runtime/core/halt.h"
#include "runtime/core/program.h"
#include "runtime/headless/headless_backend.h"
#include "runtime/windows/backend.h"
#include "runtime/windows/message_box.h"

namespace {

using errors::ErrorManager;

struct Halted {
  int code;
  std::string text;
};

const rt::ThreadVar<errors::ErrorStatus> statusVar;

// Records the raw text handed to the message box, before any rendering.
class RecordingManager : public ErrorManager {
 public:
  int ShowBox(int level, std::string_view text, std::string_view caption, std::string_view icon,
              int buttons, int defaultButton, int style) override {
    shown.push_back({std::string(caption), std::string(text), buttons, defaultButton});
    return ErrorManager::ShowBox(level, text, caption, icon, buttons, defaultButton, style);
  }
  struct Box {
    std::string Caption, Text;
    int Buttons, Default;
    bool operator==(const Box&) const = default;
  };
  std::vector<Box> shown;
};

class Reporting : public ::testing::Test {
 protected:
  void SetUp() override {
    rt::SetBackend(&backend);
    rt::SetHaltHandler([](int code, const std::string& text) { throw Halted{code, text}; });
    rt::ClearError();
    statusVar.Destroy();
    manager.Init(statusVar);
  }
  void TearDown() override {
    manager.Kill();
    rt::SetHaltHandler({});
    rt::SetBackend(nullptr);
  }
  std::string LastText() const { return manager.shown.empty() ? "" : manager.shown.back().Text; }

  rt::HeadlessBackend backend;
  RecordingManager manager;
};

TEST_F(Reporting, UnknownIdShowsNothingAndReturnsBenign) {
  EXPECT_EQ(manager.Raise(0), errors::LevelBenign);
  EXPECT_EQ(manager.Raise(57), errors::LevelBenign);
  EXPECT_EQ(manager.Raise(35), errors::LevelBenign);
  EXPECT_TRUE(manager.shown.empty());
  EXPECT_TRUE(backend.MessageBoxes().empty());
  EXPECT_EQ(manager.CurrentId(), 0);
  EXPECT_EQ(manager.CurrentTitle(), "");
}

TEST_F(Reporting, LastAddedEntryWinsUntilRemoved) {
  manager.AddEntry(errors::ErrDuplicateKey, "Mine: %Message", "Own Title", errors::LevelNotify);
  manager.SetMessageText("By Card");
  EXPECT_EQ(manager.Raise(errors::ErrDuplicateKey), errors::LevelNotify);
  EXPECT_EQ(manager.shown.back(), (RecordingManager::Box{"Own Title", "Mine: By Card", 1, 1}));
  manager.RemoveEntry(errors::ErrDuplicateKey);
  manager.Raise(errors::ErrDuplicateKey);
  EXPECT_EQ(LastText(), "Adding this record creates a duplicate entry for the key: By Card");
}

TEST_F(Reporting, QuestionsReturnBenignForYesAndCancelOtherwiseAtLevelsOneAndFour) {
  for (int level : {errors::LevelUser, errors::LevelCancel}) {
    manager.AddEntry(900 + level, "Go on?", "Question", level);
    backend.Answer(rt::ButtonYes);
    EXPECT_EQ(manager.Raise(900 + level), errors::LevelBenign) << level;
    backend.Answer(rt::ButtonNo);
    EXPECT_EQ(manager.Raise(900 + level), errors::LevelCancel) << level;
    EXPECT_EQ(manager.shown.back().Buttons, rt::ButtonYes | rt::ButtonNo);
    EXPECT_EQ(manager.shown.back().Default, rt::ButtonYes);
  }
}

TEST_F(Reporting, SilentModeShowsNothingButStillEndsOnFatal) {
  manager.SetSilent(true);
  EXPECT_EQ(manager.Raise(errors::AskConfirmDelete), errors::LevelBenign);
  EXPECT_EQ(manager.Raise(errors::ErrChangedElsewhere), errors::LevelNotify);
  EXPECT_EQ(manager.Ask(errors::AskSaveChanges, 70, rt::ButtonCancel), rt::ButtonCancel);
  EXPECT_THROW(manager.Raise(errors::ErrOpenFailed), Halted);
  EXPECT_TRUE(manager.shown.empty());
}

TEST_F(Reporting, FatalAndProgramLevelsShowTheSuffixThenHalt) {
  manager.SetFileName("Timecard");
  rt::SetError(rt::kFileNotFound, "data/Timecard.DAT");
  try {
    manager.Raise(errors::ErrOpenFailed);
    FAIL() << "no halt";
  } catch (const Halted& h) {
    EXPECT_EQ(h.code, ErrorManager::kFatalExitCode);
    EXPECT_EQ(h.text, "File Access Error");
  }
  EXPECT_EQ(manager.shown.back(),
            (RecordingManager::Box{"File Access Error",
                                   "File Timecard could not be opened.  Error: File Not Found (2)."
                                   "  Press OK to end this application",
                                   rt::ButtonOk, rt::ButtonOk}));
  EXPECT_THROW(manager.Raise(errors::ErrFileNotOpen), Halted);
  EXPECT_EQ(manager.shown.back().Text,
            "Attempt to use file (Timecard) before it was opened  Press OK to end this application");
  manager.AddEntry(901, "odd level", "Odd", 9);
  EXPECT_THROW(manager.Raise(901), Halted);
}

TEST_F(Reporting, PlaceholdersExpandInOrderIgnoringCase) {
  struct Case {
    const char* message;
    const char* expected;
  };
  rt::SetError(rt::kAccessDenied, "data/Dept.DAT", "13", "Permission denied   ");
  manager.CaptureRuntimeError();
  manager.SetFileName("Dept   ");
  manager.SetKeyName("DEP:BYCOMPDEPARTMENT");
  manager.SetFieldName("DEP:DEPT");
  manager.SetMessageText("free text");
  manager.PushProcedureName("Main");
  const Case cases[] = {
      {"%FileError|%File", "Permission denied|Dept"},
      {"%fileerrorcode/%ERRORFILE", "13/data/Dept.DAT"},
      {"%ErrorText", "Access Denied (5)"},
      {"%ErrorCode %Error", "5 Access Denied"},
      {"%key %field %message %procedure", "DEP:BYCOMPDEPARTMENT DEP:DEPT free text Main"},
      {"[%Category]", "[]"},
      {"%File%File", "DeptDept"},
  };
  for (const auto& c : cases) {
    manager.AddEntry(950, c.message, "T", errors::LevelBenign);
    manager.SelectEntry(950);
    EXPECT_EQ(manager.ExpandText(), c.expected) << c.message;
  }
  manager.PopProcedureName();
}

TEST_F(Reporting, ErrorTextUsesTheDriverTextForDeclarationErrors) {
  rt::SetError(rt::kInvalidDeclaration, "x", "47", "table does not match");
  manager.CaptureRuntimeError();
  manager.AddEntry(950, "%ErrorText", "T", errors::LevelBenign);
  manager.SelectEntry(950);
  EXPECT_EQ(manager.ExpandText(), "table does not match (47)");
}

TEST_F(Reporting, ErrorTextWithNothingCapturedIsTheEmptyTextAndZero) {
  manager.CaptureRuntimeError();
  manager.AddEntry(950, "[%ErrorText]", "T", errors::LevelBenign);
  manager.SelectEntry(950);
  EXPECT_EQ(manager.ExpandText(), "[ (0)]");
}

TEST_F(Reporting, SubstitutionsThatMentionThemselvesEnd) {
  manager.AddEntry(950, "%File and %File", "T", errors::LevelBenign);
  manager.SelectEntry(950);
  manager.SetFileName("%file");
  EXPECT_EQ(manager.ExpandText(), "%File and %File");  // value equals placeholder: left alone
  manager.SetFileName("a%Fileb");
  EXPECT_EQ(manager.ExpandText(), "a%Fileb and a%Fileb");
}

TEST_F(Reporting, ExpandedTextIsCutAtItsCapacity) {
  manager.AddEntry(950, "%Message%Message%Message", "T", errors::LevelBenign);
  manager.SelectEntry(950);
  manager.SetMessageText(std::string(2000, 'x'));
  EXPECT_EQ(manager.ExpandText(), std::string(ErrorManager::kExpandedCapacity, 'x'));
}

TEST_F(Reporting, PreviousIsTheUnexpandedTextOfTheEntryBefore) {
  manager.AddEntry(950, "first %File", "T", errors::LevelBenign);
  manager.AddEntry(951, "after: %Previous", "T", errors::LevelBenign);
  manager.SelectEntry(950);
  manager.SelectEntry(951);
  EXPECT_EQ(manager.ExpandText(), "after: first %File");
}

TEST_F(Reporting, HistoryKeepsTheLastThresholdEntriesOrAllWhenNegative) {
  for (int threshold : {3, -1}) {
    manager.ClearHistory();
    manager.SetHistoryThreshold(threshold);
    for (int i = 1; i <= 4; ++i) {
      manager.SetMessageText("n" + std::to_string(i));
      EXPECT_EQ(manager.Raise(errors::ErrSocket), errors::LevelNotify);
    }
    std::vector<std::string> texts;
    for (auto& e : manager.HistorySnapshot()) {
      texts.push_back(e.Txt);
      EXPECT_EQ(e.Id, errors::ErrSocket);
      EXPECT_EQ(e.Category, "Tarvo");
    }
    std::vector<std::string> all = {"n1 ", "n2 ", "n3 ", "n4 "};
    EXPECT_EQ(texts, threshold == 3 ? std::vector<std::string>(all.begin() + 1, all.end()) : all);
  }
  // Notifications are recorded but not shown: only the view level opens a window.
  EXPECT_TRUE(manager.shown.empty());
}

TEST_F(Reporting, AskShowsWithoutRecordingHistory) {
  manager.SetHistoryThreshold(-1);
  backend.Answer(rt::ButtonNo);
  EXPECT_EQ(manager.Ask(errors::AskSaveChanges, 70, rt::ButtonCancel), rt::ButtonNo);
  EXPECT_EQ(manager.shown.back(),
            (RecordingManager::Box{"Save Record", "Do you want to save the changes to this record?",
                                   70, rt::ButtonCancel}));
  EXPECT_TRUE(manager.HistorySnapshot().empty());
}

TEST_F(Reporting, CategoriesFallBackToTheDefault) {
  EXPECT_EQ(manager.CategoryOf(-1), "Tarvo");
  EXPECT_EQ(manager.CategoryOf(errors::ErrKeyInvalid), "Tarvo");
  manager.AssignCategory(errors::ErrKeyInvalid, "Keys");
  EXPECT_EQ(manager.CategoryOf(errors::ErrKeyInvalid), "Keys");
  manager.SetDefaultCategory("Other");
  EXPECT_EQ(manager.CategoryOf(errors::ErrFileLoad), "Other");
}

TEST_F(Reporting, ProcedureNamesNestPerThread) {
  manager.PushProcedureName("Main  ");
  manager.PushProcedureName("SelectLastDate");
  EXPECT_EQ(manager.CurrentProcedureName(), "SelectLastDate");
  manager.PopProcedureName();
  EXPECT_EQ(manager.CurrentProcedureName(), "Main");
  manager.PopProcedureName();
  EXPECT_EQ(manager.CurrentProcedureName(), "");
  manager.PopProcedureName();  // nothing left: harmless
}

TEST_F(Reporting, TwoThreadsSeeTheirOwnContextAndProcedureNames) {
  manager.AddEntry(950, "%Procedure:%File:%Message", "T", errors::LevelBenign);
  auto worker = [this](std::string name, std::string* failure) {
    return [this, name, failure] {
      manager.PushProcedureName(name);
      manager.SetFileName(name + "File");
      for (int i = 0; i < 500; ++i) {
        manager.SetMessageText(std::to_string(i));
        manager.SelectEntry(950);
        std::string expected = name + ":" + name + "File:" + std::to_string(i);
        std::string got = manager.ExpandText();
        if (got != expected) {
          *failure = got + " instead of " + expected;
          break;
        }
      }
      manager.PopProcedureName();
    };
  };
  std::string failureA, failureB;
  auto a = rt::StartThread(worker("Alpha", &failureA));
  auto b = rt::StartThread(worker("Beta", &failureB));
  a.Join();
  b.Join();
  EXPECT_EQ(failureA, "");
  EXPECT_EQ(failureB, "");
}

// Entries and tables added before Init neither hide the default rows nor lose
// to them.
TEST(ErrorManagerInit, DefaultsAreThereWhateverWasAddedBeforeInitAndEarlierEntriesOverride) {
  rt::HeadlessBackend backend;
  rt::SetBackend(&backend);
  RecordingManager manager;
  manager.AddEntry(900, "Own message", "Own", errors::LevelNotify);
  manager.AddEntry(errors::ErrDuplicateKey, "Mine: %Message", "Own Title", errors::LevelNotify);
  manager.Init(statusVar);
  manager.SetFileName("Item");
  manager.SetMessageText("By Card");
  for (int id : {errors::ErrRecordHeld, errors::ErrDuplicateKey, 900})
    EXPECT_EQ(manager.Raise(id), errors::LevelNotify) << id;
  EXPECT_EQ(manager.shown,
            (std::vector<RecordingManager::Box>{
                {"Record not read",
                 "A record held by another station was encountered reading from the Item file.", 1,
                 1},
                {"Own Title", "Mine: By Card", 1, 1},
                {"Own", "Own message", 1, 1}}));
  manager.Kill();
  rt::SetBackend(nullptr);
}

TEST_F(Reporting, KillIsIdempotent) {
  manager.Kill();
  manager.Kill();
  EXPECT_EQ(manager.EntryCount(), 0);
}

}  // namespace
