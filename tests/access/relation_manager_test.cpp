// Relation managers over a small family of files (parent -> child ->
// grandchild) and a small cycle: cascading open, close and quick scan,
// delete and update with cascade, clear and restrict, and rollback of the
// whole change when any step fails (a failing derived manager, a read-only
// file, a file another process holds).
#include "access/relation_manager.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "access/file_manager.h"
#include "access/file_registry.h"
#include "errors/default_errors.h"
#include "errors/error_manager.h"
#include "errors/level.h"
#include "runtime/core/error_state.h"
#include "runtime/core/halt.h"
#include "runtime/files/file.h"
#include "runtime/files/file_declaration.h"
#include "runtime/files/file_operations.h"
#include "runtime/files/transaction.h"
#include "runtime/headless/headless_backend.h"
#include "runtime/windows/backend.h"
#include "runtime/windows/message_box.h"
#include "tests/support/message_boxes.h"
#include "tests/support/operation_counter.h"
#include "tests/support/sqlite_lock_holder.h"
#include "tests/support/temp_folder.h"

namespace {

using dataaccess::kRiCascade;
using dataaccess::kRiClear;
using dataaccess::kRiNone;
using dataaccess::kRiRestrict;
using errors::LevelBenign;
using errors::LevelCancel;
using errors::LevelNotify;

struct Halted {
  int Code;
  std::string Text;
};

const rt::ThreadVar<errors::ErrorStatus> statusVar;

// Fatal messages (a file that cannot be opened) return instead of halting, so
// a test can look at what the failed operation left behind.
class TestErrors : public errors::ErrorManager {
 public:
  int OnFatal() override {
    ++Fatal;
    return errors::LevelFatal;
  }
  int Fatal = 0;
};

// A per-file manager as the dictionary derives one: every key under its
// label. It counts opens and closes and can be told to fail its n-th delete
// or update, as a derived manager's own rule would.
class TestFileManager : public dataaccess::FileManager {
 public:
  TestFileManager(const rt::FileDeclaration& decl, errors::ErrorManager& errs)
      : decl_(&decl), errs_(&errs) {}
  void Setup() override {
    BindFile(rt::FileOf(*decl_), *errs_);
    FileManager::Setup();
  }
  int UseFile(std::uint8_t useType) override {
    return UseFileWith(useType, [this] {
      for (int k = 1; k <= decl_->KeyCount(); ++k) AddKey(decl_->Key(k).Name, k);
      Create = CreateMissing ? 1 : 0;
    });
  }
  int Open() override {
    ++OpenCalls;
    return FileManager::Open();
  }
  int Close() override {
    ++CloseCalls;
    return FileManager::Close();
  }
  int Delete(std::uint8_t ask) override {
    if (FailDeleteAfter >= 0 && deletes_++ >= FailDeleteAfter) {
      SetError(errors::ErrDeleteFailed);
      return LevelNotify;
    }
    return FileManager::Delete(ask);
  }
  int TryUpdate(int mode) override {
    if (FailUpdateAfter >= 0 && updates_++ >= FailUpdateAfter) {
      SetError(errors::ErrUpdateFailed);
      return LevelNotify;
    }
    return FileManager::TryUpdate(mode);
  }

  int OpenCalls = 0;
  int CloseCalls = 0;
  int FailDeleteAfter = -1;
  int FailUpdateAfter = -1;
  bool CreateMissing = true;

 private:
  const rt::FileDeclaration* decl_;
  errors::ErrorManager* errs_;
  int deletes_ = 0;
  int updates_ = 0;
};

class TestRelationManager : public dataaccess::RelationManager {
 public:
  void AddRelations() override {
    ++AddRelationsCalls;
    if (Declare) Declare(*this);
    RelationManager::AddRelations();
  }
  std::function<void(TestRelationManager&)> Declare;
  int AddRelationsCalls = 0;
};

rt::FieldDeclaration Field(rt::FieldType type, std::string name, int size = 0) {
  rt::FieldDeclaration f{};
  f.Type = type;
  f.Size = static_cast<std::uint16_t>(size);
  f.Name = std::move(name);
  return f;
}

rt::KeyDeclaration UniqueKey(std::string name, std::vector<int> components) {
  rt::KeyDeclaration k;
  k.Name = std::move(name);
  k.Flags = rt::kKeyBase;
  k.Components = std::move(components);
  return k;
}

// One file of a test: its declaration and its two managers.
struct Node {
  std::unique_ptr<rt::FileDeclaration> Decl;
  std::unique_ptr<TestFileManager> Fm;
  std::unique_ptr<TestRelationManager> Rm;
  std::string Path;
};

class RelationFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(folder_.Path().empty());
    dir_ = folder_.Path().string();
    rt::SetBackend(&backend_);
    // Questions nobody scripted are answered No, so a retry never loops.
    backend_.OnMessageBox([](const rt::HeadlessBackend::MessageBoxRecord& box) {
      return (box.Buttons & rt::ButtonNo) ? rt::ButtonNo : box.DefaultButton;
    });
    rt::SetHaltHandler([](int code, const std::string& text) { throw Halted{code, text}; });
    errs_.Init(statusVar);
    dataaccess::ThreadRegistry().Init();
  }

  void TearDown() override {
    for (auto& [label, node] : nodes_) node.Rm->Kill();
    for (auto& [label, node] : nodes_) node.Fm->Kill();
    dataaccess::ThreadRegistry().Kill();
    for (auto& [label, node] : nodes_) rt::FileDestroy(*node.Decl, 1);
    nodes_.clear();
    rt::SetHaltHandler({});
    rt::SetBackend(nullptr);
  }

  Node& Make(const std::string& label, std::vector<rt::FieldDeclaration> fields,
             std::vector<rt::KeyDeclaration> keys) {
    Node& node = nodes_[label];
    node.Path = dir_ + "/" + label + ".DAT";
    node.Decl = std::make_unique<rt::FileDeclaration>("KEYED", label, label.substr(0, 3),
                                                      node.Path, std::move(fields),
                                                      std::move(keys), 0);
    rt::ThreadFile(*node.Decl);
    node.Fm = std::make_unique<TestFileManager>(*node.Decl, errs_);
    node.Fm->Setup();
    node.Rm = std::make_unique<TestRelationManager>();
    node.Rm->Init(*node.Fm, 1);
    return node;
  }

  // Creates the file and adds rows of field texts through the runtime alone.
  void Seed(Node& node, const std::vector<std::vector<std::string>>& rows) {
    rt::File file(*node.Decl);
    rt::FileCreate(file);
    ASSERT_EQ(rt::ErrorCode(), 0) << rt::FileErrorText();
    rt::FileOpen(file);
    ASSERT_EQ(rt::ErrorCode(), 0) << rt::FileErrorText();
    for (const auto& row : rows) {
      rt::FileClear(file);
      for (std::size_t i = 0; i < row.size(); ++i) file.Field(static_cast<int>(i) + 1).SetString(row[i]);
      rt::FileAdd(file);
      ASSERT_EQ(rt::ErrorCode(), 0) << rt::FileErrorText();
    }
    rt::FileClose(file);
  }

  // Adds rows of field texts to a file that exists, through the runtime alone.
  void Add(Node& node, const std::vector<std::vector<std::string>>& rows) {
    rt::File file(*node.Decl);
    rt::FileOpen(file);
    ASSERT_EQ(rt::ErrorCode(), 0) << rt::FileErrorText();
    for (const auto& row : rows) {
      rt::FileClear(file);
      for (std::size_t i = 0; i < row.size(); ++i) file.Field(static_cast<int>(i) + 1).SetString(row[i]);
      rt::FileAdd(file);
      ASSERT_EQ(rt::ErrorCode(), 0) << rt::FileErrorText();
    }
    rt::FileClose(file);
  }

  // Every record in key 1 order, fields joined with "/", read through a
  // handle of its own.
  std::vector<std::string> Contents(Node& node) {
    std::vector<std::string> rows;
    rt::File file(*node.Decl);
    rt::FileOpen(file, rt::kAccessRead | rt::kShareDenyNone);
    if (rt::ErrorCode() != 0) return {"<cannot open: " + rt::ErrorText() + ">"};
    rt::FileSetKey(file, 1);
    for (rt::FileNext(file); rt::ErrorCode() == 0; rt::FileNext(file)) rows.push_back(Text(file));
    rt::FileClose(file);
    return rows;
  }

  static std::string Text(rt::File& file) {
    std::string text;
    for (int n = 1; n <= file.Declaration().FieldCount(); ++n)
      text += (n > 1 ? "/" : "") + file.Field(n).ToText();
    return text;
  }

  std::vector<std::string> Captions() const {
    return MessageCaptions(backend_);
  }

  TempFolder folder_{"relations"};
  std::string dir_;
  rt::HeadlessBackend backend_;
  TestErrors errs_;
  std::map<std::string, Node> nodes_;
};

// Modes of the family's two relations.
struct FamilyModes {
  std::uint8_t ChildUpdate = kRiCascade;
  std::uint8_t ChildDelete = kRiCascade;
  std::uint8_t GrandUpdate = kRiCascade;
  std::uint8_t GrandDelete = kRiCascade;
};

// Par (company, code) -> Chi (company, parent, seq) -> Gra (company, parent,
// seq, line); each child also looks its parent up.
class Family : public RelationFixture {
 protected:
  void Build(FamilyModes modes = {}) {
    using rt::FieldType;
    par_ = &Make("Par",
                 {Field(FieldType::Long, "PAR:COMPANY"), Field(FieldType::CText, "PAR:CODE", 6),
                  Field(FieldType::Text, "PAR:NAME", 10)},
                 {UniqueKey("PAR:BYCODE", {1, 2})});
    chi_ = &Make("Chi",
                 {Field(FieldType::Long, "CHI:COMPANY"), Field(FieldType::CText, "CHI:PARENT", 6),
                  Field(FieldType::Long, "CHI:SEQ"), Field(FieldType::Text, "CHI:NOTE", 10)},
                 {UniqueKey("CHI:BYPARENT", {1, 2, 3})});
    gra_ = &Make("Gra",
                 {Field(FieldType::Long, "GRA:COMPANY"), Field(FieldType::CText, "GRA:PARENT", 6),
                  Field(FieldType::Long, "GRA:SEQ"), Field(FieldType::Long, "GRA:LINE")},
                 {UniqueKey("GRA:BYCHILD", {1, 2, 3, 4})});
    par_->Rm->Declare = [this, modes](TestRelationManager& rm) {
      rm.AddRelation(*chi_->Rm, modes.ChildUpdate, modes.ChildDelete, 1);
      rm.AddRelationLink(1, 1);
      rm.AddRelationLink(2, 2);
    };
    chi_->Rm->Declare = [this, modes](TestRelationManager& rm) {
      rm.AddLookup(*par_->Rm);
      rm.AddRelation(*gra_->Rm, modes.GrandUpdate, modes.GrandDelete, 1);
      rm.AddRelationLink(1, 1);
      rm.AddRelationLink(2, 2);
      rm.AddRelationLink(3, 3);
    };
    gra_->Rm->Declare = [this](TestRelationManager& rm) { rm.AddLookup(*chi_->Rm); };
    Seed(*par_, {{"1", "A", "Alpha"}, {"1", "B", "Beta"}});
    Seed(*chi_, {{"1", "A", "1", "a1"}, {"1", "A", "2", "a2"}, {"1", "B", "1", "b1"}});
    Seed(*gra_, {{"1", "A", "1", "1"}, {"1", "A", "1", "2"}, {"1", "A", "2", "1"}, {"1", "B", "1", "1"}});
  }

  // Opens the parent and reads parent `code` of company 1 into its buffer.
  void FetchParent(const std::string& code) {
    ASSERT_EQ(par_->Rm->Open(0), LevelBenign);
    rt::File& file = *par_->Fm->File;
    file.Field(1).SetInt(1);
    file.Field(2).SetString(code);
    ASSERT_EQ(par_->Fm->Fetch(1), LevelBenign);
    par_->Rm->SaveLinks();
  }

  using Snapshot = std::vector<std::vector<std::string>>;
  Snapshot All() { return {Contents(*par_), Contents(*chi_), Contents(*gra_)}; }

  Node* par_ = nullptr;
  Node* chi_ = nullptr;
  Node* gra_ = nullptr;
};

TEST_F(Family, CascadeDeleteRemovesChildrenAndGrandchildren) {
  Build();
  FetchParent("A");
  EXPECT_EQ(par_->Rm->Delete(0), LevelBenign);
  par_->Rm->Close(0);
  EXPECT_EQ(All(), (Snapshot{{"1/B/Beta"}, {"1/B/1/b1"}, {"1/B/1/1"}}));
  EXPECT_TRUE(Captions().empty());
  EXPECT_FALSE(rt::TxActive());
}

TEST_F(Family, DeleteConfirmationDeclinedTouchesNothing) {
  Build();
  FetchParent("A");
  const Snapshot before = All();
  backend_.Answer(rt::ButtonNo);
  EXPECT_EQ(par_->Rm->Delete(1), LevelCancel);
  EXPECT_EQ(All(), before);
  EXPECT_EQ(Captions(), std::vector<std::string>{"Confirm Delete"});
  backend_.Answer(rt::ButtonYes);
  EXPECT_EQ(par_->Rm->Delete(1), LevelBenign);
  EXPECT_EQ(Contents(*par_), std::vector<std::string>{"1/B/Beta"});
  par_->Rm->Close(0);
}

TEST_F(Family, CascadeUpdateCarriesNewCodeToChildrenAndGrandchildren) {
  Build();
  FetchParent("A");
  par_->Fm->File->Field(2).SetString("Z");
  EXPECT_EQ(par_->Rm->Update(0), LevelBenign);
  par_->Rm->Close(0);
  EXPECT_EQ(All(), (Snapshot{{"1/B/Beta", "1/Z/Alpha"},
                             {"1/B/1/b1", "1/Z/1/a1", "1/Z/2/a2"},
                             {"1/B/1/1", "1/Z/1/1", "1/Z/1/2", "1/Z/2/1"}}));
  EXPECT_TRUE(Captions().empty());
}

// The family's keys are case-sensitive: a change of case alone is a change,
// and a parent never takes the children of one whose code differs only in case.
TEST_F(Family, LinksThroughACaseSensitiveKeyCompareExactly) {
  Build();
  Add(*par_, {{"1", "b", "beta"}});
  Add(*chi_, {{"1", "b", "2", "b2"}});
  FetchParent("A");
  par_->Fm->File->Field(2).SetString("a");
  EXPECT_EQ(par_->Rm->Update(0), LevelBenign);
  par_->Rm->Close(0);
  FetchParent("B");
  par_->Fm->File->Field(2).SetString("0");
  EXPECT_EQ(par_->Rm->Update(0), LevelBenign);
  par_->Rm->Close(0);
  EXPECT_EQ(All(), (Snapshot{{"1/0/Beta", "1/a/Alpha", "1/b/beta"},
                             {"1/0/1/b1", "1/a/1/a1", "1/a/2/a2", "1/b/2/b2"},
                             {"1/0/1/1", "1/a/1/1", "1/a/1/2", "1/a/2/1"}}));
  EXPECT_TRUE(Captions().empty());
}

// Through a key that ignores case, codes that differ only in case are one
// link: renaming by case is no change, and a delete takes every such child.
TEST_F(RelationFixture, LinksThroughANoCaseKeyIgnoreCase) {
  using rt::FieldType;
  Node& own = Make("Own", {Field(FieldType::CText, "OWN:CODE", 6)}, {UniqueKey("OWN:BYCODE", {1})});
  rt::KeyDeclaration noCase = UniqueKey("ITE:BYOWNER", {1, 2});
  noCase.Flags |= rt::kKeyNoCase;
  Node& ite = Make("Ite", {Field(FieldType::CText, "ITE:OWNER", 6), Field(FieldType::Long, "ITE:SEQ")},
                   {noCase});
  own.Rm->Declare = [&](TestRelationManager& rm) {
    rm.AddRelation(*ite.Rm, kRiCascade, kRiCascade, 1);
    rm.AddRelationLink(1, 1);
  };
  Seed(own, {{"A"}, {"B"}});
  Seed(ite, {{"A", "1"}, {"a", "2"}, {"B", "1"}});
  auto fetch = [&](const std::string& code) {
    ASSERT_EQ(own.Rm->Open(0), LevelBenign);
    own.Fm->File->Field(1).SetString(code);
    ASSERT_EQ(own.Fm->Fetch(1), LevelBenign);
    own.Rm->SaveLinks();
  };
  fetch("A");
  own.Fm->File->Field(1).SetString("a");
  EXPECT_EQ(own.Rm->Update(0), LevelBenign);
  own.Rm->Close(0);
  EXPECT_EQ(Contents(ite), (std::vector<std::string>{"A/1", "a/2", "B/1"}));
  fetch("a");
  EXPECT_EQ(own.Rm->Delete(0), LevelBenign);
  own.Rm->Close(0);
  EXPECT_EQ(Contents(own), std::vector<std::string>{"B"});
  EXPECT_EQ(Contents(ite), std::vector<std::string>{"B/1"});
  EXPECT_TRUE(Captions().empty());
}

// A ctext keeps its trailing blanks as characters, as the files store them:
// "A" and "A  " are two parents, each with its own children. Renaming one
// by its blanks alone is a change, and a cascade reaches only its children.
TEST_F(RelationFixture, CtextCodesThatDifferInTrailingBlanksAreTwoLinks) {
  using rt::FieldType;
  Node& own = Make("Own", {Field(FieldType::CText, "OWN:CODE", 6)}, {UniqueKey("OWN:BYCODE", {1})});
  Node& ite = Make("Ite", {Field(FieldType::CText, "ITE:OWNER", 6), Field(FieldType::Long, "ITE:SEQ")},
                   {UniqueKey("ITE:BYOWNER", {1, 2})});
  own.Rm->Declare = [&](TestRelationManager& rm) {
    rm.AddRelation(*ite.Rm, kRiCascade, kRiCascade, 1);
    rm.AddRelationLink(1, 1);
  };
  Seed(own, {{"A"}, {"A  "}, {"B"}});
  Seed(ite, {{"A", "1"}, {"A  ", "2"}, {"B", "3"}});
  auto fetch = [&](const std::string& code) {
    ASSERT_EQ(own.Rm->Open(0), LevelBenign);
    own.Fm->File->Field(1).SetString(code);
    ASSERT_EQ(own.Fm->Fetch(1), LevelBenign);
    own.Rm->SaveLinks();
  };
  // Each item as owner/seq, read through a handle of its own, blanks as '_'.
  auto links = [&] {
    std::vector<std::string> found;
    rt::File file(*ite.Decl);
    rt::FileOpen(file, rt::kAccessRead | rt::kShareDenyNone);
    rt::FileSetKey(file, 1);
    for (rt::FileNext(file); rt::ErrorCode() == 0; rt::FileNext(file)) {
      std::string owner = file.Field(1).GetString();
      std::replace(owner.begin(), owner.end(), ' ', '_');
      found.push_back(owner + "/" + file.Field(2).ToText());
    }
    return found;
  };
  fetch("B");
  own.Fm->File->Field(1).SetString("B ");
  EXPECT_EQ(own.Rm->Update(0), LevelBenign);
  own.Rm->Close(0);
  fetch("A");
  EXPECT_EQ(own.Rm->Delete(0), LevelBenign);
  own.Rm->Close(0);
  EXPECT_EQ(links(), (std::vector<std::string>{"A__/2", "B_/3"}));
  EXPECT_TRUE(Captions().empty());
}

TEST_F(Family, RestrictedUpdateShows37AndResetsTheParentsLinks) {
  Build({.ChildUpdate = kRiRestrict});
  FetchParent("A");
  const Snapshot before = All();
  par_->Fm->File->Field(2).SetString("Z");
  EXPECT_EQ(par_->Rm->Update(0), LevelNotify);
  EXPECT_FALSE(rt::TxActive());
  EXPECT_EQ(par_->Fm->File->Field(2).ToText(), "A");
  EXPECT_EQ(All(), before);
  EXPECT_EQ(Captions(), std::vector<std::string>{"Referential Integrity Update Error"});
  par_->Rm->Close(0);
}

TEST_F(Family, RestrictedDeleteShows36AndDeletesNothing) {
  Build({.ChildDelete = kRiRestrict});
  FetchParent("A");
  const Snapshot before = All();
  EXPECT_EQ(par_->Rm->Delete(0), LevelNotify);
  EXPECT_FALSE(rt::TxActive());
  EXPECT_EQ(All(), before);
  par_->Rm->Close(0);
  // The child refused: no retry question.
  EXPECT_EQ(Captions(), std::vector<std::string>{"Referential Integrity Delete Error"});
}

TEST_F(Family, RestrictedDeleteOfAParentWithoutChildrenGoesAhead) {
  Build({.ChildDelete = kRiRestrict});
  FetchParent("B");
  // Parent B has a child: refused. Remove the child first, then it goes.
  EXPECT_EQ(par_->Rm->Delete(0), LevelNotify);
  ASSERT_EQ(chi_->Rm->Open(0), LevelBenign);
  chi_->Fm->File->Field(1).SetInt(1);
  chi_->Fm->File->Field(2).SetString("B");
  chi_->Fm->File->Field(3).SetInt(1);
  ASSERT_EQ(chi_->Fm->Fetch(1), LevelBenign);
  EXPECT_EQ(chi_->Rm->Delete(0), LevelBenign);
  chi_->Rm->Close(0);
  EXPECT_EQ(par_->Rm->Delete(0), LevelBenign);
  par_->Rm->Close(0);
  EXPECT_EQ(Contents(*par_), std::vector<std::string>{"1/A/Alpha"});
}

// A scan whose read fails before it reads anything (the child file cannot be
// opened) fails the cascade, even though the child's end-of-file flag is
// still set from an earlier scan that ran to the end.
TEST_F(Family, CascadeWhoseChildCannotBeReadFailsInsteadOfEndingOnAStaleEndFlag) {
  Build();
  par_->Rm->UseLogout = 0;  // unframed: nothing opens the child before its scan
  FetchParent("B");         // the last child: its scan ends at the end of file
  ASSERT_EQ(par_->Rm->Delete(0), LevelBenign);
  par_->Rm->Close(0);
  ASSERT_EQ(chi_->Fm->AtEnd(), 1);
  ASSERT_EQ(chi_->Fm->OpenCount(), 0);

  const std::string away = chi_->Path + ".away";
  std::filesystem::rename(chi_->Path, away);
  chi_->Fm->Create = 0;
  FetchParent("A");
  EXPECT_NE(par_->Rm->Delete(0), LevelBenign);
  par_->Rm->Close(0);
  std::filesystem::rename(away, chi_->Path);
  EXPECT_EQ(All(), (Snapshot{{"1/A/Alpha"},
                             {"1/A/1/a1", "1/A/2/a2"},
                             {"1/A/1/1", "1/A/1/2", "1/A/2/1"}}));
}

TEST_F(Family, ClearingDeleteBlanksTheChildrenAndTheirChildrenFollow) {
  Build({.ChildDelete = kRiClear});
  FetchParent("A");
  EXPECT_EQ(par_->Rm->Delete(0), LevelBenign);
  par_->Rm->Close(0);
  EXPECT_EQ(All(), (Snapshot{{"1/B/Beta"},
                             {"0//1/a1", "0//2/a2", "1/B/1/b1"},
                             {"0//1/1", "0//1/2", "0//2/1", "1/B/1/1"}}));
}

TEST_F(Family, FailedUpdateCascadeLeavesEveryFileAndPositionAsItWas) {
  Build();
  gra_->Fm->FailUpdateAfter = 1;  // the second grandchild write fails
  // The child file stands on a record of another parent before the change.
  ASSERT_EQ(chi_->Rm->Open(0), LevelBenign);
  chi_->Fm->File->Field(1).SetInt(1);
  chi_->Fm->File->Field(2).SetString("B");
  chi_->Fm->File->Field(3).SetInt(1);
  ASSERT_EQ(chi_->Fm->Fetch(1), LevelBenign);
  FetchParent("A");
  const Snapshot before = All();
  par_->Fm->File->Field(2).SetString("Z");
  EXPECT_EQ(par_->Rm->Update(0), LevelNotify);
  EXPECT_FALSE(rt::TxActive());
  EXPECT_EQ(All(), before);
  par_->Rm->Close(0);
  EXPECT_EQ(par_->Fm->File->Field(2).ToText(), "A");
  EXPECT_EQ(Text(*chi_->Fm->File), "1/B/1/b1");
  EXPECT_EQ(Captions(), std::vector<std::string>{"Record was not updated"});
  chi_->Rm->Close(0);
}

// How a test breaks the grandchild file in the middle of a cascade delete.
enum class Injection { FailingManager, ReadOnlyFile, LockedByAnotherProcess };

class FailingCascade : public Family, public ::testing::WithParamInterface<Injection> {};

TEST_P(FailingCascade, LeavesEveryFileAsItWas) {
  Build();
  std::unique_ptr<SqliteLockHolder> lock;
  switch (GetParam()) {
    case Injection::FailingManager: gra_->Fm->FailDeleteAfter = 2; break;
    case Injection::ReadOnlyFile:
      std::filesystem::permissions(gra_->Path, std::filesystem::perms::owner_read |
                                                   std::filesystem::perms::group_read |
                                                   std::filesystem::perms::others_read);
      break;
    case Injection::LockedByAnotherProcess:
      lock = std::make_unique<SqliteLockHolder>(gra_->Path, "BEGIN IMMEDIATE;", dir_ + "/lock.out");
      ASSERT_TRUE(lock->Ready());
      break;
  }
  FetchParent("A");
  const Snapshot before = All();
  EXPECT_NE(par_->Rm->Delete(0), LevelBenign);
  // Checked while the parent is still open: closing the last file of a
  // transaction would roll it back anyway.
  EXPECT_FALSE(rt::TxActive());
  if (lock) lock->Release();
  EXPECT_EQ(All(), before);
  par_->Rm->Close(0);
  auto captions = Captions();
  ASSERT_FALSE(captions.empty());
  // A file another process writes refuses the transaction at its begin.
  EXPECT_EQ(captions.back(), lock ? "Transaction cancelled" : "Record was not deleted");
}

INSTANTIATE_TEST_SUITE_P(Injections, FailingCascade,
                         ::testing::Values(Injection::FailingManager, Injection::ReadOnlyFile,
                                           Injection::LockedByAnotherProcess),
                         [](const auto& info) {
                           switch (info.param) {
                             case Injection::FailingManager: return std::string("FailingManager");
                             case Injection::ReadOnlyFile: return std::string("ReadOnlyFile");
                             default: return std::string("LockedByAnotherProcess");
                           }
                         });

TEST_F(Family, RefusedCommitIsRolledBackAndReported) {
  Build();
  // Another process reads the grandchild file inside a transaction, so the
  // commit cannot take its write lock.
  SqliteLockHolder reader(gra_->Path, "BEGIN; SELECT count(*) FROM Gra;", dir_ + "/read.out");
  ASSERT_TRUE(reader.Ready());
  FetchParent("A");
  const Snapshot before = All();
  EXPECT_EQ(par_->Rm->Delete(0), LevelNotify);
  EXPECT_FALSE(rt::TxActive());
  reader.Release();
  EXPECT_EQ(All(), before);
  par_->Rm->Close(0);
  EXPECT_EQ(Captions(), (std::vector<std::string>{"Transaction cancelled", "Record Delete Error"}));
}

TEST_F(Family, AChangeInsideSomeoneElsesTransactionIsRefused) {
  Build();
  FetchParent("B");
  rt::TxBegin(2, *par_->Fm->File);
  ASSERT_EQ(rt::ErrorCode(), 0);
  par_->Fm->File->Field(3).SetString("Outer");
  ASSERT_EQ(par_->Fm->TryUpdate(0), LevelBenign);  // the caller's own work
  FetchParent("A");
  const std::vector<std::string> children = Contents(*chi_);
  EXPECT_EQ(par_->Rm->Delete(0), LevelNotify);
  par_->Fm->File->Field(2).SetString("Z");
  EXPECT_EQ(par_->Rm->Update(0), LevelNotify);
  EXPECT_EQ(Captions(), (std::vector<std::string>{"Transaction cancelled", "Transaction cancelled"}));
  // The caller's transaction is still open and still holds its work.
  EXPECT_TRUE(rt::TxActive());
  EXPECT_EQ(Contents(*par_), (std::vector<std::string>{"1/A/Alpha", "1/B/Outer"}));
  EXPECT_EQ(Contents(*chi_), children);
  rt::TxRollback();
  EXPECT_EQ(Contents(*par_), (std::vector<std::string>{"1/A/Alpha", "1/B/Beta"}));
  par_->Rm->Close(0);
  par_->Rm->Close(0);
}

TEST_F(Family, OpenThenCloseRestoresEveryOpenCount) {
  Build();
  par_->Fm->Open();  // someone else already has the parent open
  for (auto* node : {par_, chi_, gra_}) {
    for (bool forced : {false, true}) {
      std::vector<int> before = {par_->Fm->OpenCount(), chi_->Fm->OpenCount(), gra_->Fm->OpenCount()};
      ASSERT_EQ(forced ? node->Rm->OpenForced(0) : node->Rm->Open(0), LevelBenign);
      node->Rm->Close(0);
      EXPECT_EQ((std::vector<int>{par_->Fm->OpenCount(), chi_->Fm->OpenCount(), gra_->Fm->OpenCount()}),
                before)
          << node->Decl->Label() << (forced ? " forced" : "");
    }
  }
  par_->Fm->Close();
}

TEST_F(Family, OpenCountsOnlyDirectRelativesUnlessForced) {
  Build();
  ASSERT_EQ(par_->Rm->Open(0), LevelBenign);
  EXPECT_EQ(chi_->Fm->OpenCount(), 1);
  EXPECT_EQ(gra_->Fm->OpenCount(), 0);  // the child's relations are not known yet
  EXPECT_EQ(chi_->Rm->AddRelationsCalls, 0);
  EXPECT_EQ(chi_->Fm->Used, 0);  // counted, not opened on disk
  par_->Rm->Close(0);
  ASSERT_EQ(par_->Rm->OpenForced(0), LevelBenign);
  EXPECT_EQ(gra_->Fm->OpenCount(), 1);
  EXPECT_EQ(chi_->Rm->AddRelationsCalls, 1);
  par_->Rm->Close(0);
  EXPECT_EQ(par_->Fm->OpenCount() + chi_->Fm->OpenCount() + gra_->Fm->OpenCount(), 0);
  EXPECT_EQ(par_->Rm->AddRelationsCalls, 1);  // declared once, however often used
}

TEST_F(Family, FailedOpenGivesBackWhatItOpened) {
  Build();
  // The parent reaches the grandchild (lazily) before the child, which opens
  // at once and whose file is missing and may not be created.
  par_->Rm->Declare = [this](TestRelationManager& rm) {
    rm.AddLookup(*gra_->Rm);
    rm.AddRelation(*chi_->Rm, kRiCascade, kRiCascade, 1);
    rm.AddRelationLink(1, 1);
  };
  std::filesystem::remove(chi_->Path);
  chi_->Fm->LazyOpen = 0;
  chi_->Fm->CreateMissing = false;
  EXPECT_NE(par_->Rm->Open(0), LevelBenign);
  EXPECT_EQ(errs_.Fatal, 1);  // "File Access Error"
  EXPECT_EQ(par_->Fm->OpenCount(), 0);
  EXPECT_EQ(chi_->Fm->OpenCount(), 0);
  EXPECT_EQ(gra_->Fm->OpenCount(), 0);
  EXPECT_EQ(par_->Fm->Used, 0);
  for (const auto& relation : par_->Rm->Relations) EXPECT_EQ(relation.Opened, 0);
}

TEST_F(RelationFixture, WithoutTransactionsInTheDriverAFramedInsertGoesAheadUnframed) {
  Node& log = nodes_["Log"];
  log.Path = dir_ + "/Error.Log";
  log.Decl = std::make_unique<rt::FileDeclaration>(
      "ASCII", "Log", "LOG", log.Path,
      std::vector<rt::FieldDeclaration>{Field(rt::FieldType::Text, "LOG:LINE", 20)},
      std::vector<rt::KeyDeclaration>{}, 0);
  rt::ThreadFile(*log.Decl);
  log.Fm = std::make_unique<TestFileManager>(*log.Decl, errs_);
  log.Fm->Setup();
  log.Rm = std::make_unique<TestRelationManager>();
  log.Rm->Init(*log.Fm, 1);
  log.Rm->UseLogoutOnInsert = 1;
  ASSERT_EQ(log.Rm->Open(0), LevelBenign);  // creates the log file
  log.Fm->File->Field(1).SetString("first line");
  EXPECT_EQ(log.Rm->Insert(), LevelBenign);
  EXPECT_EQ(log.Rm->UseLogout, 0);
  EXPECT_FALSE(rt::TxActive());
  log.Rm->Close(0);
  std::ifstream in(log.Path);
  std::string line;
  std::getline(in, line);
  EXPECT_EQ(line, "first line");
  EXPECT_TRUE(Captions().empty());
}

// A -> B, A -> C, B -> C, C -> A: a cycle with two ways into C.
class Cycle : public RelationFixture {
 protected:
  void SetUp() override {
    RelationFixture::SetUp();
    for (const char* label : {"Ayy", "Bee", "Cee"}) {
      std::string prefix = std::string(label).substr(0, 3);
      Node& node = Make(label, {Field(rt::FieldType::Long, prefix + ":ID")},
                        {UniqueKey(prefix + ":BYID", {1})});
      Seed(node, {{"1"}});
      rt::FileCallback(rt::FileOf(*node.Decl), &sends_[label], 0);
    }
    auto link = [this](const char* from, const char* to) {
      nodes_[from].Rm->AddRelation(*nodes_[to].Rm, kRiCascade, kRiCascade, 1);
      nodes_[from].Rm->AddRelationLink(1, 1);
    };
    nodes_["Ayy"].Rm->Declare = [=](TestRelationManager&) {
      link("Ayy", "Bee");
      link("Ayy", "Cee");
    };
    nodes_["Bee"].Rm->Declare = [=](TestRelationManager&) { link("Bee", "Cee"); };
    nodes_["Cee"].Rm->Declare = [=](TestRelationManager&) { link("Cee", "Ayy"); };
  }
  void TearDown() override {
    for (auto& [label, node] : nodes_) rt::FileCallback(rt::FileOf(*node.Decl), &sends_[label], 1);
    RelationFixture::TearDown();
  }
  std::vector<int> Calls(int TestFileManager::*counter) {
    std::vector<int> calls;
    for (const char* label : {"Ayy", "Bee", "Cee"}) calls.push_back(nodes_[label].Fm.get()->*counter);
    return calls;
  }
  std::vector<int> Counts() {
    std::vector<int> counts;
    for (const char* label : {"Ayy", "Bee", "Cee"}) counts.push_back(nodes_[label].Fm->OpenCount());
    return counts;
  }
  int TotalSends() const {
    int total = 0;
    for (const auto& [label, counter] : sends_) total += counter.Count(rt::kOpSend);
    return total;
  }
  std::map<std::string, OperationCounter> sends_;
};

TEST_F(Cycle, ForcedOpenCloseAndQuickScanReachEachFileOnce) {
  ASSERT_EQ(nodes_["Ayy"].Rm->OpenForced(0), LevelBenign);
  EXPECT_EQ(Calls(&TestFileManager::OpenCalls), (std::vector<int>{1, 1, 1}));
  EXPECT_EQ(Counts(), (std::vector<int>{1, 1, 1}));

  // Quick scan reaches files that are in use.
  for (const char* label : {"Bee", "Cee"}) ASSERT_EQ(nodes_[label].Fm->UseFile(2), LevelBenign);
  for (auto& [label, counter] : sends_) counter.Reset();
  nodes_["Ayy"].Rm->SetQuickScan(1, dataaccess::kQuickScanAll);
  EXPECT_EQ(sends_["Ayy"].Count(rt::kOpSend), 1);
  EXPECT_EQ(sends_["Bee"].Count(rt::kOpSend), 1);
  EXPECT_EQ(sends_["Cee"].Count(rt::kOpSend), 1);

  nodes_["Ayy"].Rm->Close(0);
  EXPECT_EQ(Calls(&TestFileManager::CloseCalls), (std::vector<int>{1, 1, 1}));
  EXPECT_EQ(Counts(), (std::vector<int>{0, 0, 0}));
}

TEST_F(Cycle, QuickScanModeChoosesChildrenOrParents) {
  ASSERT_EQ(nodes_["Ayy"].Rm->OpenForced(0), LevelBenign);
  for (const char* label : {"Bee", "Cee"}) ASSERT_EQ(nodes_[label].Fm->UseFile(2), LevelBenign);
  for (auto& [label, counter] : sends_) counter.Reset();
  // Every relation here has a key, so "parents" reaches no one else.
  nodes_["Ayy"].Rm->SetQuickScan(1, dataaccess::kQuickScanParents);
  EXPECT_EQ(TotalSends(), 1);
  nodes_["Bee"].Rm->SetQuickScan(1, dataaccess::kQuickScanChildren);
  EXPECT_EQ(TotalSends(), 1 + 3);
  nodes_["Ayy"].Rm->Close(0);
}

}  // namespace
