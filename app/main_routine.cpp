#include "app/main_routine.h"

#include <cfenv>
#include <initializer_list>

#include "access/file_registry.h"
#include "app/dictionary.h"
#include "app/exit_status.h"
#include "app/globals.h"
#include "app/purge_process.h"
#include "app/schema.h"
#include "runtime/core/thread_instance.h"
#include "runtime/files/file.h"

namespace app {

void MainConstruct() { BuildGlobals(); }

void MainDestruct() { ReleaseGlobals(); }

void MainThreadStart() {
  rt::ThreadInstance(ErrorStatusVar).Reset();
  rt::ThreadInstance(GlobalRequest) = 0;
  rt::ThreadInstance(GlobalResponse) = 0;
  rt::ThreadInstance(VCRRequest) = 0;
  // Thread 1 builds its dictionary in the main routine, once the error
  // manager and the settings store are ready.
  if (rt::ThreadNumber() != 1) DictionaryInit();
}

void MainThreadEnd() {
  DictionaryKill();
  ErrorStatusVar.Destroy();
  // The alias goes first and the punch file last, so nothing that refers to a
  // file outlives it.
  for (const auto* decl :
       {&AliasTimeCardFile(), &HOSFile(), &OtherHrsTrxFile(), &HTimecardFile(), &EmpMisPCFile(),
        &PayTypeFile(), &HOtherTrxFile(), &EmployeeFile(), &DeptFile(), &EmpAnnualizedFile(),
        &TimecardFile()})
    rt::FileDestroy(*decl, 1);
}

void MainRegisterFiles() {
  for (const auto* decl : AllFiles()) rt::ThreadFile(*decl);
}

std::vector<rt::Module> ModuleTable() {
  // The purge module comes last, so its thread-end routine closes the
  // procedure's view before the main module's destroys the files.
  return {dataaccess::RegistryModule(),
          rt::Module{"Veltrane", MainConstruct, MainDestruct, MainThreadStart, MainThreadEnd,
                     MainRegisterFiles},
          PurgeModule()};
}

void MainRoutine() {
  rt::ThreadInstance(ErrorStatusVar);
  rt::RuntimeReady();
  GlobalErrors()->Init(ErrorStatusVar);
  TextMatcher& matcher = *GlobalTextMatcher();
  matcher.Init();
  matcher.SetOption(1, true);
  matcher.SetOption(2, false);
  GlobalSettings()->Init(kSettingsFile, settings::StorageIni, 0);
  DictionaryInit();
  PurgeProcess();
  GlobalSettings()->BeforeKill();
  GlobalSettings()->Kill();
  matcher.Kill();
}

int ExitStatus(const PurgeOutcome& outcome) {
  switch (outcome.End) {
    case PurgeEnd::Finished: return outcome.NotRemoved == 0 ? kExitDone : kExitError;
    case PurgeEnd::Cancelled: return kExitCancelled;
    case PurgeEnd::NotRun:
    case PurgeEnd::Failed: break;
  }
  return kExitError;
}

int ProgramEntry() {
  std::fesetenv(FE_DFL_ENV);
  if (rt::RuntimeInit(ModuleTable()) != 0) rt::RuntimeStart(MainRoutine);
  const int code = rt::RuntimeExit();
  return code != 0 ? code : ExitStatus(LastPurgeOutcome());
}

}  // namespace app
