// ViewReader on a real data file in a fresh temporary folder: sort orders and
// their texts, named filters, reading to the end or to a stop, failures shown
// through the headless backend, saved buffers, and the open counts of the
// view's files.
#include "access/view_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "access/relation_manager.h"
#include "errors/default_errors.h"
#include "runtime/files/view.h"
#include "tests/access/access_fixture.h"

namespace {

using access_test::Item;
using access_test::ItemText;
using access_test::kGroup;
using access_test::kKeyGroup;
using access_test::kKeyName;
using access_test::kName;
using access_test::kNumber;
using dataaccess::ViewReader;
using errors::LevelBenign;
using errors::LevelFatal;
using errors::LevelNotify;

// Added in this order, which is no key's order.
const std::vector<Item> kItems = {
    {2, 7, "delta"}, {1, 5, "Alpha"}, {1, 9, "echo"},  {3, 1, "Bravo"}, {1, 4, "charlie"},
    {2, 6, "FOXTROT"}, {1, 6, "golf"}, {2, 8, "Hotel"}, {3, 2, "india"}, {1, 3, "Juliet"},
};

std::string Text(const Item& item) {
  return std::to_string(item.Group) + "/" + std::to_string(item.Number) + "/" + item.Name;
}

// The test items that `keep` lets through, sorted by `less`.
template <class Less>
std::vector<std::string> Sorted(Less less, bool (*keep)(const Item&) = nullptr) {
  std::vector<Item> items;
  for (const auto& item : kItems)
    if (!keep || keep(item)) items.push_back(item);
  std::sort(items.begin(), items.end(), less);
  std::vector<std::string> texts;
  for (const auto& item : items) texts.push_back(Text(item));
  return texts;
}

bool ByGroup(const Item& a, const Item& b) {
  return std::tie(a.Group, a.Number) < std::tie(b.Group, b.Number);
}

// A reader whose ValidateRecord answers from a callback and counts its calls.
class JudgingReader : public ViewReader {
 public:
  std::uint8_t ValidateRecord() override {
    ++judged;
    return judge ? judge() : ViewReader::ValidateRecord();
  }
  std::function<std::uint8_t()> judge;
  int judged = 0;
};

class ViewReading : public access_test::AccessFixture {
 protected:
  void SetUp() override {
    AccessFixture::SetUp();
    CreateWith(kItems);
    file = &rt::FileOf(*decl_);
    manager = &Manager();
    relations.Init(*manager, 1);
    view = std::make_unique<rt::View>(*file);
  }

  void TearDown() override {
    reader.Kill();
    view.reset();
    relations.Kill();
    AccessFixture::TearDown();
  }

  // Init with one sort order from the group key.
  void InitByKey() {
    reader.Init(*view, relations);
    reader.AddSortOrder(kKeyGroup);
  }

  // The manager's entry of key `key`, whose components the order text is built from.
  dataaccess::KeyEntry& KeyEntryOf(int key) {
    for (auto& entry : manager->Keys)
      if (entry.Key == key) return entry;
    throw std::runtime_error("key not added");
  }

  std::string BufferText() { return ItemText(*file); }

  // Reset, then every record Next gives, and the level that ended the walk.
  std::vector<std::string> Walk(ViewReader& walker, int* endLevel = nullptr) {
    walker.Reset();
    std::vector<std::string> texts;
    int level;
    while ((level = walker.Next()) == LevelBenign) texts.push_back(BufferText());
    if (endLevel) *endLevel = level;
    return texts;
  }
  std::vector<std::string> Walk(int* endLevel = nullptr) { return Walk(reader, endLevel); }

  std::string FilterProperty() { return rt::ViewGetProperty(*view, rt::kPropFilter); }
  std::string OrderProperty() { return rt::ViewGetProperty(*view, rt::kPropOrder); }

  rt::File* file = nullptr;
  access_test::ItemManager* manager = nullptr;
  dataaccess::RelationManager relations;
  std::unique_ptr<rt::View> view;
  JudgingReader reader;
};

// ---- Sort orders and their texts

TEST_F(ViewReading, SortOrderFromKeyReadsInKeyOrder) {
  InitByKey();
  EXPECT_EQ(reader.Order->CurrentEntry()->Order, "ITM:GROUP,ITM:NUMBER");
  int end = -1;
  EXPECT_EQ(Walk(&end), Sorted(ByGroup));
  EXPECT_EQ(end, LevelNotify);
  EXPECT_TRUE(Captions().empty());
}

TEST_F(ViewReading, DescendingSecondComponentIsWrittenWithMinusAndReadDescending) {
  reader.Init(*view, relations);
  // The runtime's keys are all ascending; the manager's key entry is what the
  // order text is built from.
  KeyEntryOf(kKeyGroup).Fields.at(1).Ascend = 0;
  reader.AddSortOrder(kKeyGroup);
  EXPECT_EQ(reader.Order->CurrentEntry()->Order, "ITM:GROUP,-ITM:NUMBER");
  EXPECT_EQ(Walk(), Sorted([](const Item& a, const Item& b) {
              return std::tie(a.Group, b.Number) < std::tie(b.Group, a.Number);
            }));
}

TEST_F(ViewReading, CaseInsensitiveKeyGivesUpperOrder) {
  reader.Init(*view, relations);
  reader.AddSortOrder(kKeyName);
  EXPECT_EQ(reader.Order->CurrentEntry()->Order, "UPPER(ITM:NAME)");
  EXPECT_EQ(reader.FreeElementName(), "UPPER(ITM:NAME)");
  reader.Reset();
  std::vector<std::string> names;
  while (reader.Next() == LevelBenign) {
    std::string name = file->Field(kName).ToText();
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    names.push_back(name);
  }
  EXPECT_EQ(names.size(), kItems.size());
  EXPECT_TRUE(std::is_sorted(names.begin(), names.end()));
}

TEST_F(ViewReading, SetSortSelectsAndReportsChange) {
  reader.Init(*view, relations);
  EXPECT_EQ(reader.AddSortOrder(kKeyGroup), 1u);
  EXPECT_EQ(reader.AddSortOrder(kKeyName), 2u);
  EXPECT_EQ(reader.Order->Current, 2u);  // the newest order is current

  EXPECT_EQ(reader.SetSort(0), 1);  // 0 means the first order
  EXPECT_EQ(reader.Order->Current, 1u);
  EXPECT_EQ(reader.SetSort(1), 0);  // already current: nothing changes
  EXPECT_EQ(reader.Order->Current, 1u);
  EXPECT_EQ(reader.SetSort(3), 0);  // no such order
  EXPECT_EQ(reader.Order->Current, 1u);
  EXPECT_EQ(reader.SetSort(2), 1);
  reader.Open();
  EXPECT_EQ(OrderProperty(), "UPPER(ITM:NAME)");
}

TEST_F(ViewReading, AppendOrderReplacesTakesOrAppends) {
  struct Case {
    std::string start, text, expected;
  };
  const Case cases[] = {
      {"", "ITM:NUMBER", "ITM:NUMBER"},                       // an empty order takes the text
      {"", "*ITM:NUMBER", "*ITM:NUMBER"},                     // as it is, "*" and all
      {"ITM:GROUP", "*-ITM:NUMBER", "-ITM:NUMBER"},           // "*" replaces
      {"ITM:GROUP", "-ITM:NUMBER", "ITM:GROUP,-ITM:NUMBER"},  // appended after ","
      {"ITM:GROUP,ITM:NAME", "ITM:NUMBER", "ITM:GROUP,ITM:NAME,ITM:NUMBER"},
  };
  reader.Init(*view, relations);
  reader.AddSortOrder(0);
  for (const auto& c : cases) {
    reader.SetOrder(c.start);
    reader.AppendOrder(c.text);
    EXPECT_EQ(reader.Order->CurrentEntry()->Order, c.expected) << c.start << " + " << c.text;
  }
  reader.SetOrder("   ");
  EXPECT_EQ(reader.Order->CurrentEntry()->Order, "");
}

TEST_F(ViewReading, OrderListGivenToInitIsUsedAndNotReleased) {
  dataaccess::SortOrderList shared;
  reader.Init(*view, relations, &shared);
  EXPECT_EQ(reader.DisposeOrder, 0);
  reader.AddSortOrder(kKeyGroup);
  ASSERT_EQ(shared.Entries.size(), 1u);
  reader.Kill();
  // The entries stay; their texts and ranges are released.
  ASSERT_EQ(shared.Entries.size(), 1u);
  EXPECT_EQ(shared.Entries[0].Order, "");
  EXPECT_EQ(shared.Entries[0].RangeList, nullptr);
  EXPECT_EQ(reader.Order, nullptr);
}

// ---- Filters

TEST_F(ViewReading, NamedFiltersJoinInIdOrderAndStandardOneCanBeRemoved) {
  InitByKey();
  reader.SetFilter("ITM:NUMBER <> 9");
  reader.SetNamedFilter("ITM:GROUP <= 2", "1 Range");
  reader.Open();
  EXPECT_EQ(FilterProperty(), "(ITM:GROUP <= 2) AND (ITM:NUMBER <> 9)");
  EXPECT_EQ(Walk(), Sorted(ByGroup, [](const Item& i) { return i.Group <= 2 && i.Number != 9; }));

  reader.SetFilter("");
  reader.Open();
  EXPECT_EQ(FilterProperty(), "(ITM:GROUP <= 2)");
  reader.SetNamedFilter("  ", "1 Range");
  reader.Open();
  EXPECT_EQ(FilterProperty(), "");
  EXPECT_EQ(Walk().size(), kItems.size());
  EXPECT_TRUE(Captions().empty());
}

TEST_F(ViewReading, FilterIdsCompareOnTheirFirstThirtyCharacters) {
  InitByKey();
  const std::string id(30, 'x');
  reader.SetNamedFilter("ITM:GROUP = 1", id + "first");
  reader.SetNamedFilter("ITM:GROUP = 3", id + "second");  // the same id: replaces
  reader.SetNamedFilter("ITM:NUMBER = 9", "0 Early ");    // a trailing blank does not count
  reader.SetNamedFilter("ITM:NUMBER = 1", "0 Early");
  const auto& filters = reader.Order->CurrentEntry()->Filter;
  ASSERT_EQ(filters.size(), 2u);
  EXPECT_EQ(filters[0].Id, "0 Early");
  EXPECT_EQ(filters[1].Id, id);
  reader.ApplyFilter();
  EXPECT_EQ(FilterProperty(), "(ITM:NUMBER = 1) AND (ITM:GROUP = 3)");
}

TEST_F(ViewReading, OpenOnOpenViewAppliesOrderAndFilterWithoutReopening) {
  InitByKey();
  reader.Open();
  ASSERT_EQ(reader.Opened, 1);
  ASSERT_EQ(reader.Next(), LevelBenign);
  reader.SetFilter("ITM:GROUP = 2");
  reader.SetOrder("ITM:GROUP,-ITM:NUMBER");
  // A reopen would set the view's buffering again from PageSize.
  reader.PageSize = 5;
  reader.Open();
  EXPECT_EQ(reader.Opened, 1);
  EXPECT_EQ(rt::ViewGetProperty(*view, rt::kPropReadAhead), "20");
  EXPECT_EQ(OrderProperty(), "ITM:GROUP,-ITM:NUMBER");
  EXPECT_EQ(FilterProperty(), "(ITM:GROUP = 2)");
  EXPECT_EQ(Walk(), (std::vector<std::string>{"2/8/Hotel", "2/7/delta", "2/6/FOXTROT"}));
  EXPECT_TRUE(Captions().empty());
}

// A filter the view refuses is shown with message 46, and no record passes
// until a filter the view accepts is applied.
TEST_F(ViewReading, RefusedFilterShowsViewOpenErrorAndReadsNothing) {
  const std::string tooLong = "ITM:GROUP = 1" + std::string(5000, ' ');
  std::size_t shown = 0;
  for (const std::string& bad : {std::string("ITM:GROUP = = 1"), std::string("NOSUCH = 1"),
                                 std::string("(ITM:GROUP = 1"), tooLong}) {
    SCOPED_TRACE(bad.substr(0, 20));
    JudgingReader local;
    local.Init(*view, relations);
    local.AddSortOrder(kKeyGroup);
    // The filter in force before stays in the view; it must not be read with.
    local.SetFilter("ITM:GROUP = 3");
    local.Open();
    local.SetFilter(bad);
    int end = -1;
    EXPECT_TRUE(Walk(local, &end).empty());
    EXPECT_EQ(end, LevelNotify);
    EXPECT_EQ(local.judged, 0);
    auto captions = Captions();
    ASSERT_EQ(captions.size(), shown + 1);
    EXPECT_EQ(captions.back(), "View Open Error");

    local.SetFilter("ITM:GROUP = 2");
    EXPECT_EQ(Walk(local).size(), 3u);
    EXPECT_EQ(Captions().size(), ++shown);
    local.Kill();
  }
}

TEST_F(ViewReading, RefusedOrderShowsViewOpenErrorAndCarriesOn) {
  InitByKey();
  reader.SetOrder("ITM:GROUP,NOSUCH");
  EXPECT_EQ(Walk().size(), kItems.size());
  EXPECT_EQ(Captions(), std::vector<std::string>{"View Open Error"});
}

// ---- Reading

TEST_F(ViewReading, FilteredRecordsAreSkippedToTheEnd) {
  InitByKey();
  reader.judge = [] { return dataaccess::RecordFiltered; };
  int end = -1;
  EXPECT_TRUE(Walk(&end).empty());
  EXPECT_EQ(end, LevelNotify);
  EXPECT_EQ(reader.judged, static_cast<int>(kItems.size()));
  EXPECT_TRUE(Captions().empty());
}

TEST_F(ViewReading, OtherCheckResultsSkipAndOutOfRangeStops) {
  InitByKey();
  // Accept group 1, skip group 2 with a result of no name, stop at group 3.
  reader.judge = [this]() -> std::uint8_t {
    switch (file->Field(kGroup).GetInt()) {
      case 1: return dataaccess::RecordAccepted;
      case 2: return 7;
      default: return dataaccess::RecordOutOfRange;
    }
  };
  int end = -1;
  EXPECT_EQ(Walk(&end), Sorted(ByGroup, [](const Item& i) { return i.Group == 1; }));
  EXPECT_EQ(end, LevelNotify);
  EXPECT_EQ(reader.judged, 9);  // 5 accepted, 3 skipped, the first of group 3
  EXPECT_EQ(BufferText(), "3/1/Bravo");
}

TEST_F(ViewReading, PreviousReadsBackwardsFromTheEnd) {
  InitByKey();
  reader.Reset();
  std::vector<std::string> texts;
  while (reader.Previous() == LevelBenign) texts.push_back(BufferText());
  auto expected = Sorted(ByGroup);
  std::reverse(expected.begin(), expected.end());
  EXPECT_EQ(texts, expected);
}

TEST_F(ViewReading, ResetToStartsAtTheBufferValuesOfLeadingComponents) {
  InitByKey();
  reader.Open();
  rt::FileClear(*file);
  file->Field(kGroup).SetInt(2);
  file->Field(kNumber).SetInt(7);
  reader.ResetTo(2);
  ASSERT_EQ(reader.Next(), LevelBenign);
  EXPECT_EQ(BufferText(), "2/7/delta");
  reader.ResetTo(1);
  ASSERT_EQ(reader.Next(), LevelBenign);
  EXPECT_EQ(BufferText(), "2/6/FOXTROT");
}

TEST_F(ViewReading, FailedReadShowsRecordRetrievalErrorAndIsFatal) {
  InitByKey();
  reader.Reset();
  ASSERT_EQ(reader.Next(), LevelBenign);
  reader.Close();
  EXPECT_EQ(reader.Opened, 0);
  EXPECT_EQ(reader.Next(), LevelFatal);
  EXPECT_EQ(Captions(), std::vector<std::string>{"Record Retrieval Error"});
}

TEST_F(ViewReading, ViewOfUnopenedFileShowsViewOpenError) {
  InitByKey();
  // Take the file away under the reader: the view cannot open.
  manager->Close();
  ASSERT_FALSE(PhysicallyOpen());
  reader.Open();
  EXPECT_EQ(reader.Opened, 0);
  EXPECT_EQ(Captions(), std::vector<std::string>{"View Open Error"});
}

// ---- Buffers and records

TEST_F(ViewReading, SaveBuffersAndRestoreBuffersGiveTheRecordBack) {
  InitByKey();
  reader.Reset();
  ASSERT_EQ(reader.Next(), LevelBenign);
  const std::string first = BufferText();
  reader.SaveBuffers();
  ASSERT_EQ(reader.SavedBuffers->size(), 1u);
  EXPECT_EQ((*reader.SavedBuffers)[0].FM, manager);
  ASSERT_EQ(reader.Next(), LevelBenign);
  ASSERT_NE(BufferText(), first);
  reader.RestoreBuffers();
  EXPECT_EQ(BufferText(), first);
  EXPECT_TRUE(reader.SavedBuffers->empty());
  EXPECT_TRUE(manager->Buffers.empty());  // the manager's copy was consumed

  // Saving twice without restoring keeps only the second copy, and Kill
  // discards it.
  reader.SaveBuffers();
  const auto once = manager->Buffers.size();
  reader.SaveBuffers();
  EXPECT_EQ(manager->Buffers.size(), once);
  reader.Kill();
  EXPECT_TRUE(manager->Buffers.empty());
}

TEST_F(ViewReading, PrimeRecordAndClearViewRecordsBlankTheRecord) {
  InitByKey();
  reader.Reset();
  ASSERT_EQ(reader.Next(), LevelBenign);
  EXPECT_EQ(reader.PrimeRecord(), LevelBenign);
  EXPECT_EQ(BufferText(), "0/0/");
  EXPECT_EQ(file->Field(kName).GetString(), std::string(20, ' '));

  ASSERT_EQ(reader.Next(), LevelBenign);
  EXPECT_EQ(reader.PrimeRecord(1), LevelBenign);  // left as it was
  EXPECT_NE(BufferText(), "0/0/");
  reader.ClearViewRecords();
  EXPECT_EQ(BufferText(), "0/0/");
}

TEST_F(ViewReading, FreeElementIsTheFirstComponent) {
  reader.Init(*view, relations);
  reader.AddSortOrder(0);
  EXPECT_EQ(reader.FreeElementPosition(), 0);
  EXPECT_EQ(reader.FreeElementName(), "");
  EXPECT_EQ(reader.FreeElementAscending(), 1);
  EXPECT_FALSE(reader.Order->CurrentEntry()->FreeElement.IsValid());

  reader.AddSortOrder(kKeyGroup);
  EXPECT_EQ(reader.FreeElementPosition(), 1);
  EXPECT_EQ(reader.FreeElementName(), "ITM:GROUP");
  EXPECT_EQ(reader.FreeElementAscending(), 1);
  KeyEntryOf(kKeyGroup).Fields.at(0).Ascend = 0;
  EXPECT_EQ(reader.FreeElementAscending(), 0);
  const auto& element = reader.Order->CurrentEntry()->FreeElement;
  file->Field(kGroup).SetInt(42);
  EXPECT_EQ(element.GetInt(), 42);
}

// ---- Files of the view

TEST_F(ViewReading, InitOpensTheFilesAndKillGivesTheOpenBack) {
  ASSERT_EQ(manager->OpenCount(), 0);
  InitByKey();
  EXPECT_EQ(reader.Used, 1);
  EXPECT_EQ(manager->OpenCount(), 1);
  EXPECT_TRUE(PhysicallyOpen());  // although the manager opens lazily
  EXPECT_EQ(Walk().size(), kItems.size());
  reader.Kill();
  EXPECT_EQ(reader.Killed, 1);
  EXPECT_EQ(reader.Used, 0);
  EXPECT_EQ(reader.Opened, 0);
  EXPECT_EQ(manager->OpenCount(), 0);
  EXPECT_FALSE(PhysicallyOpen());
  reader.Kill();  // a second Kill does nothing
  reader.Destroy();
  EXPECT_EQ(manager->OpenCount(), 0);
}

TEST_F(ViewReading, ReaderOfAnOpenFileLeavesItOpen) {
  ASSERT_EQ(relations.Open(0), LevelBenign);
  InitByKey();
  EXPECT_EQ(manager->OpenCount(), 2);
  reader.Kill();
  EXPECT_EQ(manager->OpenCount(), 1);
  EXPECT_TRUE(PhysicallyOpen());
  relations.Close(0);
}

// The dictionary may destroy its managers before a reader goes; the reader's
// Kill then forgets them instead of reaching into freed memory (ASan checks).
TEST_F(ViewReading, KillAfterTheManagersWereDestroyedTouchesNoneOfThem) {
  auto own = std::make_unique<dataaccess::RelationManager>();
  own->Init(*manager, 1);
  reader.Init(*view, *own);
  reader.AddSortOrder(kKeyGroup);
  reader.SaveBuffers();
  ASSERT_EQ(manager->OpenCount(), 1);
  own.reset();
  managers_.back()->Kill();
  managers_.pop_back();
  manager = nullptr;
  reader.Kill();
  EXPECT_EQ(reader.Killed, 1);
  EXPECT_FALSE(reader.SavedBuffers.has_value());
}

TEST_F(ViewReading, FileThatCannotOpenLeavesOpenCountsAsTheyWere) {
  { std::ofstream(path_, std::ios::trunc) << "this is not a data file"; }
  // Shown without ending the program, so the reader carries on past it.
  errs_.AddEntry(errors::ErrFileStructure, "%File is not a data file.", "Invalid File",
                 errors::LevelNotify);
  ASSERT_EQ(manager->Open(), LevelBenign);  // counted; a lazy open touches no disk
  InitByKey();
  ASSERT_FALSE(Captions().empty());
  EXPECT_EQ(Captions().front(), "Invalid File");
  EXPECT_EQ(manager->OpenCount(), 1);
  reader.Kill();
  EXPECT_EQ(manager->OpenCount(), 1);
  manager->Close();
}

}  // namespace
