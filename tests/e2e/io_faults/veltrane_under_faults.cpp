// The purge program with the test OS layer under SQLite
// (tests/support/io_fault_layer.h), for the I/O fault sweep
// (tests/e2e/io_fault_test.cpp). It runs the program's own command line, in
// batches of VELTRANE_TEST_BATCH removals when that is set. With --cascade
// COMPANY CARD it instead deletes that employee through its relation manager,
// which removes the employee's records from every file its relations cascade
// to in one transaction: exit 0 when the employee is gone (or was), 3 when
// the delete failed.
#include <cstdlib>
#include <iostream>
#include <string>

#include "access/file_manager.h"
#include "access/file_registry.h"
#include "access/relation_manager.h"
#include "app/dictionary.h"
#include "app/exit_status.h"
#include "app/globals.h"
#include "app/main_routine.h"
#include "app/command_line.h"
#include "app/purge_process.h"
#include "app/schema.h"
#include "errors/level.h"
#include "runtime/core/error_state.h"
#include "runtime/headless/headless_backend.h"
#include "tests/support/io_fault_layer.h"

namespace {

int DeleteEmployee(int company, int card) {
  rt::HeadlessBackend backend;
  backend.SetUnattended(true);
  rt::SetBackend(&backend);
  app::BuildGlobals();
  app::MainRegisterFiles();
  app::GlobalErrors()->Init(app::ErrorStatusVar);
  dataaccess::ThreadRegistry().Init();
  app::DictionaryInit();
  dataaccess::RelationManager& relations = *app::RelationManagerOf(app::EmployeeFile());
  dataaccess::FileManager& employee = *app::FileManagerOf(app::EmployeeFile());
  int status = app::kExitError;
  if (relations.Open(0) == errors::LevelBenign) {
    employee.File->Field(app::emp::kCompany).SetInt(company);
    employee.File->Field(app::emp::kCardNo).SetInt(card);
    // TryFetch: a missing employee is no error here.
    const int found = employee.TryFetch(app::EmployeeFile().KeyNumber("EMP:BYCOMPCARD"));
    if (found != errors::LevelBenign && rt::ErrorCode() == rt::kRecordNotAvailable)
      status = app::kExitDone;
    else if (found == errors::LevelBenign && relations.Delete(0) == errors::LevelBenign)
      status = app::kExitDone;
    relations.Close(0);
  }
  if (status != app::kExitDone)
    std::cerr << "cascade delete failed: " << rt::ErrorCode() << " " << rt::ErrorText() << "\n";
  app::DictionaryKill();
  dataaccess::ThreadRegistry().Kill();
  app::ReleaseGlobals();
  rt::SetBackend(nullptr);
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  std::string error;
  if (!iofault::InstallFromEnvironment(error)) {
    std::cerr << error << "\n";
    return app::kExitUsage;
  }
  if (const char* batch = std::getenv("VELTRANE_TEST_BATCH"))
    app::SetCommitEveryForTests(std::atoi(batch));
  if (argc == 4 && std::string(argv[1]) == "--cascade")
    return DeleteEmployee(std::atoi(argv[2]), std::atoi(argv[3]));
  return app::RunCommandLine(argc, argv);
}
