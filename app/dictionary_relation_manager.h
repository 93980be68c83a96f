// The dictionary's relation managers: one per data file, holding that file's
// manager and its place in the web of relations.
//
//   Employee -> EmpAnnualized  update cascade, delete cascade  EMPA:BYCOMPCARDPARENT
//            -> EmpMisPC       update cascade                  EMPC:BYCOMPCARD
//            -> HOS            update cascade, delete cascade  HOS:BYCOMPCARD
//            -> PayType, Dept  lookups
//            -> HOtherTrx      update cascade, delete cascade  HOHT:KEYCOMPCARD
//            -> HTimecard      update cascade, delete cascade  HTIM:KEYCOMPCARDDATETIME
//            -> Timecard       update cascade, delete cascade  TIM:KEYCOMPCARDDATEPTIME
//            -> OtherHrsTrx    update cascade, delete cascade  OHT:BYCOMPCARD
//     each linked by company and card number
//   PayType  -> Employee       update cascade                  EMP:KEYCOMPPAYTYPE (company, code)
//   Dept     -> Employee       update cascade                  EMP:KEYCOMPDEPT (company, code)
//   HOS, OtherHrsTrx, HTimecard, EmpMisPC, HOtherTrx, EmpAnnualized, Timecard
//            -> Employee       lookup (the other end of Employee's relation)
//   AliasTimeCard              none; its AliasFile is Timecard's manager
//
// Threading: a manager belongs to the thread whose dictionary made it.
// Ownership: the relation manager owns its file manager; Kill kills and
// frees it.
#pragma once

#include <memory>

#include "access/relation_manager.h"
#include "app/dictionary_file_manager.h"

namespace app {

class DictionaryRelationManager : public dataaccess::RelationManager {
 public:
  // Takes ownership of the file's manager (not yet set up).
  explicit DictionaryRelationManager(std::unique_ptr<DictionaryFileManager> fileManager);
  ~DictionaryRelationManager() override;

  // The owned file manager; null after Kill.
  DictionaryFileManager* OwnedFileManager() const { return fileManager_.get(); }
  const rt::FileDeclaration& Declaration() const { return file_; }

  // Kills the file manager, runs the framework's kill, clears the file's
  // relation-manager reference and frees the file manager. A second call
  // does nothing.
  void Kill() override;
  // Adds this file's relations from the table above.
  void AddRelations() override;

 private:
  const rt::FileDeclaration& file_;
  std::unique_ptr<DictionaryFileManager> fileManager_;
};

}  // namespace app
