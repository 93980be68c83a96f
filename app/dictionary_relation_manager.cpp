#include "app/dictionary_relation_manager.h"

#include <string_view>
#include <utility>
#include <vector>

#include "access/file_manager.h"
#include "app/dictionary.h"
#include "app/schema.h"

namespace app {
namespace {

using dataaccess::kRiCascade;
using dataaccess::kRiNone;

struct Link {
  std::string_view Mine;     // field of this file
  std::string_view Related;  // field of the related file
};

// One relation as the table at the top of the header lists it. A relation
// without a key is a lookup.
struct RelationRow {
  const rt::FileDeclaration& (*From)();
  const rt::FileDeclaration& (*To)();
  std::uint8_t UpdateMode;
  std::uint8_t DeleteMode;
  std::string_view Key;  // the related file's key
  std::vector<Link> Links;
};

const std::vector<RelationRow>& RelationTable() {
  static const std::vector<RelationRow> rows = {
      {EmployeeFile, EmpAnnualizedFile, kRiCascade, kRiCascade, "EMPA:BYCOMPCARDPARENT",
       {{"EMP:COMPANY", "EMPA:COMPANY"}, {"EMP:CARDNO", "EMPA:CARDNO"}}},
      {EmployeeFile, EmpMisPCFile, kRiCascade, kRiNone, "EMPC:BYCOMPCARD",
       {{"EMP:COMPANY", "EMPC:COMPANY"}, {"EMP:CARDNO", "EMPC:CARDNO"}}},
      {EmployeeFile, HOSFile, kRiCascade, kRiCascade, "HOS:BYCOMPCARD",
       {{"EMP:COMPANY", "HOS:COMPANY"}, {"EMP:CARDNO", "HOS:EMP_CARD"}}},
      {EmployeeFile, PayTypeFile, kRiNone, kRiNone, {}, {}},
      {EmployeeFile, DeptFile, kRiNone, kRiNone, {}, {}},
      {EmployeeFile, HOtherTrxFile, kRiCascade, kRiCascade, "HOHT:KEYCOMPCARD",
       {{"EMP:COMPANY", "HOHT:COMPANY"}, {"EMP:CARDNO", "HOHT:CARDNO"}}},
      {EmployeeFile, HTimecardFile, kRiCascade, kRiCascade, "HTIM:KEYCOMPCARDDATETIME",
       {{"EMP:COMPANY", "HTIM:COMPANY"}, {"EMP:CARDNO", "HTIM:EMP_CARD"}}},
      {EmployeeFile, TimecardFile, kRiCascade, kRiCascade, "TIM:KEYCOMPCARDDATEPTIME",
       {{"EMP:COMPANY", "TIM:COMPANY"}, {"EMP:CARDNO", "TIM:EMP_CARD"}}},
      {EmployeeFile, OtherHrsTrxFile, kRiCascade, kRiCascade, "OHT:BYCOMPCARD",
       {{"EMP:COMPANY", "OHT:COMPANY"}, {"EMP:CARDNO", "OHT:CARDNO"}}},
      {PayTypeFile, EmployeeFile, kRiCascade, kRiNone, "EMP:KEYCOMPPAYTYPE",
       {{"PAY:COMPANY", "EMP:COMPANY"}, {"PAY:CODE", "EMP:PAYTYPE"}}},
      {DeptFile, EmployeeFile, kRiCascade, kRiNone, "EMP:KEYCOMPDEPT",
       {{"DEP:COMPANY", "EMP:COMPANY"}, {"DEP:DEPT", "EMP:DEPT"}}},
      {HOSFile, EmployeeFile, kRiNone, kRiNone, {}, {}},
      {OtherHrsTrxFile, EmployeeFile, kRiNone, kRiNone, {}, {}},
      {HTimecardFile, EmployeeFile, kRiNone, kRiNone, {}, {}},
      {EmpMisPCFile, EmployeeFile, kRiNone, kRiNone, {}, {}},
      {HOtherTrxFile, EmployeeFile, kRiNone, kRiNone, {}, {}},
      {EmpAnnualizedFile, EmployeeFile, kRiNone, kRiNone, {}, {}},
      {TimecardFile, EmployeeFile, kRiNone, kRiNone, {}, {}},
  };
  return rows;
}

}  // namespace

DictionaryRelationManager::DictionaryRelationManager(
    std::unique_ptr<DictionaryFileManager> fileManager)
    : file_(fileManager->Declaration()), fileManager_(std::move(fileManager)) {}

DictionaryRelationManager::~DictionaryRelationManager() { DictionaryRelationManager::Kill(); }

void DictionaryRelationManager::Kill() {
  if (fileManager_) fileManager_->Kill();
  RelationManager::Kill();
  if (RelationManagerOf(file_) == this) SetRelationManagerReference(file_, nullptr);
  fileManager_.reset();
  Me = nullptr;
}

void DictionaryRelationManager::AddRelations() {
  for (const RelationRow& row : RelationTable()) {
    if (&row.From() != &file_) continue;
    const rt::FileDeclaration& related = row.To();
    RelationManager* relatedManager = RelationManagerOf(related);
    if (!relatedManager) continue;
    if (row.Key.empty()) {
      AddLookup(*relatedManager);
      continue;
    }
    // A relation is added whole or not at all: with a link missing, a
    // cascade would reach records of other parents.
    std::vector<std::pair<int, int>> fields;
    for (const Link& link : row.Links)
      fields.emplace_back(file_.FieldNumber(link.Mine), related.FieldNumber(link.Related));
    const int key = related.KeyNumber(row.Key);
    bool complete = key != 0;
    for (auto [mine, theirs] : fields) complete = complete && mine != 0 && theirs != 0;
    if (!complete) continue;
    AddRelation(*relatedManager, row.UpdateMode, row.DeleteMode, key);
    for (auto [mine, theirs] : fields) AddRelationLink(mine, theirs);
  }
  RelationManager::AddRelations();
}

}  // namespace app
