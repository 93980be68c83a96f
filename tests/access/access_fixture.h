// A fresh temporary folder with a small declared item file, an error manager
// whose messages go to the headless backend, halts turned into exceptions,
// and a file manager for the item file that tests configure.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "access/file_manager.h"
#include "access/file_registry.h"
#include "errors/error_manager.h"
#include "errors/level.h"
#include "runtime/core/error_state.h"
#include "runtime/core/halt.h"
#include "runtime/files/file.h"
#include "runtime/files/file_declaration.h"
#include "runtime/files/file_operations.h"
#include "runtime/headless/headless_backend.h"
#include "runtime/windows/backend.h"
#include "runtime/windows/message_box.h"
#include "tests/support/declarations.h"
#include "tests/support/message_boxes.h"
#include "tests/support/temp_folder.h"

namespace access_test {

// Field and key numbers of the item file.
inline constexpr int kGroup = 1, kNumber = 2, kName = 3, kAmount = 4;
inline constexpr int kKeyNumber = 1;  // NUMBER; duplicates allowed
inline constexpr int kKeyGroup = 2;   // GROUP, NUMBER; unique, the primary key
inline constexpr int kKeyName = 3;    // NAME; unique, ignores case

inline std::unique_ptr<rt::FileDeclaration> ItemDeclaration(const std::string& path,
                                                           const std::string& label = "Item",
                                                           const std::string& prefix = "ITM",
                                                           int keyCount = 3) {
  auto field = [&](rt::FieldType type, const std::string& name, int size = 0, int places = 0) {
    return FieldDecl(type, prefix, name, size, places);
  };
  std::vector<rt::FieldDeclaration> fields = {
      field(rt::FieldType::Long, "GROUP"), field(rt::FieldType::Long, "NUMBER"),
      field(rt::FieldType::Text, "NAME", 20), field(rt::FieldType::Decimal, "AMOUNT", 4, 2)};
  auto key = [&](const std::string& name, std::uint8_t flags, std::vector<int> components) {
    return KeyDecl(prefix, name, flags, std::move(components));
  };
  std::vector<rt::KeyDeclaration> keys = {
      key("BYNUMBER", rt::kKeyBase | rt::kKeyDuplicates, {kNumber}),
      key("BYGROUP", rt::kKeyBase, {kGroup, kNumber}),
      key("BYNAME", rt::kKeyBase | rt::kKeyNoCase, {kName})};
  keys.resize(static_cast<std::size_t>(keyCount));
  return std::make_unique<rt::FileDeclaration>("KEYED", label, prefix, path, fields, keys, 0);
}

struct Item {
  int Group = 1;
  int Number = 1;
  std::string Name;
  std::string Amount = "0.00";
};

inline void SetItem(rt::File& file, const Item& item) {
  rt::FileClear(file);
  file.Field(kGroup).SetInt(item.Group);
  file.Field(kNumber).SetInt(item.Number);
  file.Field(kName).SetString(item.Name);
  file.Field(kAmount).SetDecimal(*rt::Decimal::Parse(item.Amount));
}

// "group/number/name" of the record in the buffer.
inline std::string ItemText(rt::File& file) {
  return std::to_string(file.Field(kGroup).GetInt()) + "/" +
         std::to_string(file.Field(kNumber).GetInt()) + "/" + file.Field(kName).ToText();
}

// How a test's item manager initialises itself on first use.
struct ItemOptions {
  int AutoIncKey = 0;  // 1: NUMBER alone; 2: NUMBER within GROUP
  bool Create = true;
  int LockRecover = 10;
};

// The per-file manager of the item file, as the dictionary would derive it.
// It also records the runtime operations it is told about.
class ItemManager : public dataaccess::FileManager {
 public:
  ItemManager(const rt::FileDeclaration& decl, errors::ErrorManager& errs, ItemOptions options = {},
              dataaccess::FileManager* aliased = nullptr)
      : decl_(&decl), errs_(&errs), options_(options), aliased_(aliased) {}

  void Setup() override {
    BindFile(rt::FileOf(*decl_), *errs_, aliased_);
    FileManager::Setup();
  }
  int UseFile(std::uint8_t useType) override {
    return UseFileWith(useType, [this] {
      AddKey("By Number", kKeyNumber, options_.AutoIncKey == 1 ? 1 : 0);
      AddKey("By Group", kKeyGroup, options_.AutoIncKey == 2 ? 2 : 0);
      AddKey("By Name", kKeyName, 0);
      Create = options_.Create ? 1 : 0;
      LockRecover = static_cast<std::int16_t>(options_.LockRecover);
    });
  }
  void BeforeFileOperation(int operation, const rt::FileOperationParams& params) override {
    Operations.push_back(operation);
    FileManager::BeforeFileOperation(operation, params);
  }

  std::vector<int> Operations;

 private:
  const rt::FileDeclaration* decl_;
  errors::ErrorManager* errs_;
  ItemOptions options_;
  dataaccess::FileManager* aliased_;
};

struct Halted {
  int Code;
  std::string Text;
};

inline const rt::ThreadVar<errors::ErrorStatus>& StatusVar() {
  static const rt::ThreadVar<errors::ErrorStatus> var;
  return var;
}

class AccessFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(folder_.Path().empty());
    dir_ = folder_.Path().string();
    path_ = dir_ + "/Item.DAT";
    decl_ = ItemDeclaration(path_);
    rt::ThreadFile(*decl_);
    rt::SetBackend(&backend_);
    rt::SetHaltHandler([](int code, const std::string& text) { throw Halted{code, text}; });
    errs_.Init(StatusVar());
    dataaccess::ThreadRegistry().Init();
  }

  void TearDown() override {
    for (auto& m : managers_) m->Kill();
    managers_.clear();
    dataaccess::ThreadRegistry().Kill();
    for (auto* d : destroyOnExit_) rt::FileDestroy(*d, 1);
    rt::FileDestroy(*decl_, 1);
    rt::SetHaltHandler({});
    rt::SetBackend(nullptr);
  }

  // A set-up manager of the item file (or of `decl`), owned by the fixture.
  ItemManager& Manager(ItemOptions options = {}, const rt::FileDeclaration* decl = nullptr,
                       dataaccess::FileManager* aliased = nullptr) {
    managers_.push_back(std::make_unique<ItemManager>(decl ? *decl : *decl_, errs_, options, aliased));
    managers_.back()->Setup();
    return *managers_.back();
  }

  // Creates the item file with `items`, through the runtime alone.
  void CreateWith(const std::vector<Item>& items) {
    rt::File& file = rt::FileOf(*decl_);
    rt::FileCreate(file);
    ASSERT_EQ(rt::ErrorCode(), 0) << rt::FileErrorText();
    rt::FileOpen(file);
    ASSERT_EQ(rt::ErrorCode(), 0) << rt::FileErrorText();
    for (const auto& item : items) {
      SetItem(file, item);
      rt::FileAdd(file);
      ASSERT_EQ(rt::ErrorCode(), 0) << rt::FileErrorText();
    }
    rt::FileClose(file);
  }

  // Every record in NUMBER order ("group/number/name"), read through a fresh
  // declaration of the same disk file so nothing the managers hold is touched.
  std::vector<std::string> Contents() {
    auto reader = ItemDeclaration(path_, "Reader", "RDR");
    std::vector<std::string> rows;
    {
      rt::File file(*reader);
      rt::FileOpen(file, rt::kAccessRead | rt::kShareDenyNone);
      if (rt::ErrorCode() != 0) return {"<cannot open: " + rt::ErrorText() + ">"};
      rt::FileSetKey(file, kKeyGroup);
      for (rt::FileNext(file); rt::ErrorCode() == 0; rt::FileNext(file)) rows.push_back(ItemText(file));
      rt::FileClose(file);
    }
    return rows;
  }

  // Captions of the message boxes shown so far.
  std::vector<std::string> Captions() const {
    return MessageCaptions(backend_);
  }
  // All lines of the last message box, joined with "|".
  std::string LastMessage() const {
    return LastMessageText(backend_);
  }

  // Whether the calling thread's copy of the item file is physically open.
  bool PhysicallyOpen(const rt::FileDeclaration* decl = nullptr) {
    rt::File& file = rt::FileOf(decl ? *decl : *decl_);
    return file.Handle() && file.Handle()->IsOpen();
  }

  TempFolder folder_{"access-test"};
  std::string dir_, path_;
  std::unique_ptr<rt::FileDeclaration> decl_;
  std::vector<const rt::FileDeclaration*> destroyOnExit_;
  rt::HeadlessBackend backend_;
  errors::ErrorManager errs_;
  std::vector<std::unique_ptr<ItemManager>> managers_;
};

}  // namespace access_test
