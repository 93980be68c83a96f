// RecordProcessor's walk through child processors, over real files: a parent
// file, a child file holding the children of each parent (its GROUP is the
// parent's NUMBER) and a grandchild file below the children, where some
// parents and some children have none.
#include "ui/record_processor.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "access/relation_manager.h"
#include "runtime/files/view.h"
#include "tests/access/access_fixture.h"

namespace {

using access_test::Item;
using errors::LevelBenign;

// A processor whose view holds the records belonging to the current record
// of `owner` (GROUP equal to its NUMBER), filtered afresh at every reset.
class ChildProcessor : public ui::RecordProcessor {
 public:
  ChildProcessor(rt::File& owner, std::string prefix) : owner_(owner), prefix_(std::move(prefix)) {}
  void Reset() override {
    SetFilter(prefix_ + ":GROUP = " + std::to_string(owner_.Field(access_test::kNumber).GetInt()));
    RecordProcessor::Reset();
  }
  // A walk that keeps reading an ended child would never end: after far more
  // reads than the file has records, the test stops it with a read error.
  int Next() override { return ++reads_ > 100 ? errors::LevelFatal : RecordProcessor::Next(); }

 private:
  rt::File& owner_;
  std::string prefix_;
  int reads_ = 0;
};

class ChildWalk : public access_test::AccessFixture {
 protected:
  // A file of `items` declared with `prefix`, with its manager, relations and view.
  struct Level {
    std::unique_ptr<rt::FileDeclaration> Decl;
    dataaccess::RelationManager Relations;
    std::unique_ptr<rt::View> View;
  };
  void Fill(Level& level, const std::string& name, const std::string& prefix,
            const std::vector<Item>& items) {
    level.Decl = access_test::ItemDeclaration(dir_ + "/" + name + ".DAT", name, prefix);
    rt::ThreadFile(*level.Decl);
    destroyOnExit_.push_back(level.Decl.get());
    rt::File& file = rt::FileOf(*level.Decl);
    rt::FileCreate(file);
    rt::FileOpen(file);
    for (const Item& item : items) {
      access_test::SetItem(file, item);
      rt::FileAdd(file);
    }
    ASSERT_EQ(rt::ErrorCode(), 0) << rt::FileErrorText();
    rt::FileClose(file);
    level.Relations.Init(Manager({}, level.Decl.get()), 1);
    level.View = std::make_unique<rt::View>(file);
  }
  void TearDown() override {
    for (Level* level : {&grandchildren, &children, &parents}) {
      level->View.reset();
      level->Relations.Kill();
    }
    AccessFixture::TearDown();
  }

  Level parents, children, grandchildren;
};

TEST_F(ChildWalk, ParentsWithoutChildrenAndDeeperLevelsAllEnd) {
  // Parents 1 to 4; 2 and 4 have no children, child 11 no grandchildren.
  Fill(parents, "Parent", "PAR", {{0, 1, "p1"}, {0, 2, "p2"}, {0, 3, "p3"}, {0, 4, "p4"}});
  Fill(children, "Child", "CHD", {{1, 10, "c10"}, {1, 11, "c11"}, {3, 30, "c30"}});
  Fill(grandchildren, "Grand", "GRD", {{10, 100, "g100"}, {30, 300, "g300"}, {30, 301, "g301"}});
  ui::RecordProcessor walk;
  ChildProcessor child(rt::FileOf(*parents.Decl), "CHD");
  ChildProcessor grandchild(rt::FileOf(*children.Decl), "GRD");
  walk.Init(*parents.View, parents.Relations, -1, {}, nullptr, nullptr);
  child.Init(*children.View, children.Relations, -1, {}, nullptr, nullptr);
  grandchild.Init(*grandchildren.View, grandchildren.Relations, -1, {}, nullptr, nullptr);
  for (auto* p : {&walk, static_cast<ui::RecordProcessor*>(&child),
                  static_cast<ui::RecordProcessor*>(&grandchild)})
    p->AddSortOrder(access_test::kKeyGroup);
  walk.Children.emplace(std::vector<ui::ChildEntry>{{&child, 1}, {&grandchild, 2}});

  std::vector<std::string> read;
  walk.Reset();
  for (int r = walk.FetchNext(1); r == LevelBenign && read.size() < 50; r = walk.FetchNext(1)) {
    const rt::FileDeclaration* source[] = {parents.Decl.get(), children.Decl.get(),
                                           grandchildren.Decl.get()};
    read.push_back(access_test::ItemText(rt::FileOf(*source[walk.ChildRead])));
  }
  EXPECT_EQ(read, (std::vector<std::string>{"0/1/p1", "1/10/c10", "10/100/g100", "1/11/c11",
                                            "0/2/p2", "0/3/p3", "3/30/c30", "30/300/g300",
                                            "30/301/g301", "0/4/p4"}));
  EXPECT_EQ(walk.RecordsProcessed, 10);
  walk.Kill();
  child.Kill();
  grandchild.Kill();
}

}  // namespace
