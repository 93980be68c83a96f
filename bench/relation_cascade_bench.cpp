// What the relation manager adds to a cascading delete: one employee with
// many punches deleted two ways, on fresh copies of the same files,
//   raw        through the runtime alone: one transaction over Employee,
//              Timecard and HTimecard; in each child file the employee's
//              records found through the cascade's key (rt::FileSetKeyValue,
//              rt::FileNext while the card matches) and deleted one by one;
//              then the employee record; commit;
//   framework  RelationManager::Delete on the employee with the dictionary as
//              the main routine builds it: every relative opened, enlisted and
//              scanned (the six cascade children and the rest of the tree),
//              one transaction, the runtime callbacks of every operation.
// The employee (company 1, card 100) has VELTRANE_BENCH_CASCADE_PUNCHES
// punches in Timecard (default 100,000) and half as many in HTimecard;
// another employee has a tenth as many punches in each, which stay.
// Counters: raw_s and framework_s (wall-clock seconds of the last run of
// each), framework/raw, and peak_rss_MiB of the process.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>

#include "access/file_manager.h"
#include "access/file_registry.h"
#include "access/relation_manager.h"
#include "app/dictionary.h"
#include "app/globals.h"
#include "app/main_routine.h"
#include "app/schema.h"
#include "errors/level.h"
#include "runtime/core/error_state.h"
#include "runtime/files/file.h"
#include "runtime/files/file_operations.h"
#include "runtime/files/transaction.h"
#include "runtime/headless/headless_backend.h"
#include "runtime/windows/backend.h"

namespace {

namespace fs = std::filesystem;

constexpr int kCompany = 1;
constexpr int kCard = 100;
constexpr int kOtherCard = 200;

void Check(bool ok, const std::string& what) {
  if (ok) return;
  std::cerr << "relation_cascade: " << what << ": " << rt::ErrorCode() << " " << rt::FileErrorText()
            << "\n";
  std::exit(1);
}

long Punches() {
  const char* text = std::getenv("VELTRANE_BENCH_CASCADE_PUNCHES");
  long value = text ? std::atol(text) : 0;
  return value > 0 ? value : 100000;
}

// Adds `count` punches of `card` to an open file (Timecard or HTimecard layout).
void AddPunches(rt::File& file, int card, long count, int cardField, int dateField, int timeField,
                int typeField) {
  for (long i = 0; i < count; ++i) {
    rt::FileClear(file);
    file.Field(1).SetInt(kCompany);
    file.Field(cardField).SetInt(card);
    file.Field(dateField).SetInt(80000 + i / 4);
    file.Field(timeField).SetInt(i % 4 * 360000);
    file.Field(typeField).SetString(i % 2 ? "O" : "I");
    rt::FileAdd(file);
    Check(rt::ErrorCode() == 0, "add punch");
  }
}

// The files every run starts from, made once in `master/data`.
void MakeMaster(const fs::path& master, long punches) {
  fs::create_directories(master / "data");
  const fs::path home = fs::current_path();
  fs::current_path(master);
  for (const auto* decl : app::AllFiles()) {
    if (decl == &app::AliasTimeCardFile()) continue;
    rt::File file(*decl);
    rt::FileCreate(file);
    Check(rt::ErrorCode() == 0, "create " + decl->Label());
  }
  {
    rt::File employee(app::EmployeeFile());
    rt::FileOpen(employee);
    for (int card : {kCard, kOtherCard}) {
      rt::FileClear(employee);
      employee.Field(app::emp::kCompany).SetInt(kCompany);
      employee.Field(app::emp::kCardNo).SetInt(card);
      // Appended rather than "E" + number: GCC 12 at -O2 takes that for an overlapping copy.
      std::string number = "E";
      number += std::to_string(card);
      employee.Field(app::emp::kEmployeeNo).SetString(number);
      rt::FileAdd(employee);
      Check(rt::ErrorCode() == 0, "add employee");
    }
    rt::FileClose(employee);
  }
  rt::File timecard(app::TimecardFile()), history(app::HTimecardFile());
  rt::FileOpen(timecard);
  rt::FileOpen(history);
  rt::TxBegin(2, timecard);
  rt::TxBegin(2, history);
  using namespace app;
  AddPunches(timecard, kCard, punches, tim::kEmpCard, tim::kDutyDate, tim::kPunchTime, tim::kPunchType);
  AddPunches(timecard, kOtherCard, punches / 10, tim::kEmpCard, tim::kDutyDate, tim::kPunchTime,
             tim::kPunchType);
  AddPunches(history, kCard, punches / 2, htim::kEmpCard, htim::kDutyDate, htim::kPunchTime,
             htim::kPunchType);
  AddPunches(history, kOtherCard, punches / 10, htim::kEmpCard, htim::kDutyDate, htim::kPunchTime,
             htim::kPunchType);
  rt::TxCommit();
  Check(rt::ErrorCode() == 0, "commit master");
  rt::FileClose(history);
  rt::FileClose(timecard);
  fs::current_path(home);
}

// Deletes the employee and its punches through the runtime alone.
void RawDelete() {
  rt::File employee(app::EmployeeFile()), timecard(app::TimecardFile()),
      history(app::HTimecardFile());
  // Every file is open before the transaction begins.
  for (rt::File* file : {&employee, &timecard, &history}) {
    rt::FileOpen(*file);
    Check(rt::ErrorCode() == 0, "open");
  }
  for (rt::File* file : {&employee, &timecard, &history}) {
    rt::TxBegin(2, *file);
    Check(rt::ErrorCode() == 0, "begin");
  }
  struct Child {
    rt::File* File;
    int CardField;
    int Key;
  };
  for (const Child& child :
       {Child{&timecard, app::tim::kEmpCard, app::TimecardFile().KeyNumber("TIM:KEYCOMPCARDDATEPTIME")},
        Child{&history, app::htim::kEmpCard,
              app::HTimecardFile().KeyNumber("HTIM:KEYCOMPCARDDATETIME")}}) {
    rt::File& file = *child.File;
    rt::FileClear(file);
    file.Field(1).SetInt(kCompany);
    file.Field(child.CardField).SetInt(kCard);
    rt::FileSetKeyValue(file, child.Key);
    for (rt::FileNext(file); rt::ErrorCode() == 0; rt::FileNext(file)) {
      if (file.Field(1).GetInt() != kCompany || file.Field(child.CardField).GetInt() != kCard) break;
      rt::FileDelete(file);
      Check(rt::ErrorCode() == 0, "delete punch");
    }
  }
  employee.Field(app::emp::kCompany).SetInt(kCompany);
  employee.Field(app::emp::kCardNo).SetInt(kCard);
  rt::FileGetByKey(employee, app::EmployeeFile().KeyNumber("EMP:BYCOMPCARD"));
  Check(rt::ErrorCode() == 0, "fetch employee");
  rt::FileDelete(employee);
  Check(rt::ErrorCode() == 0, "delete employee");
  rt::TxCommit();
  Check(rt::ErrorCode() == 0, "commit");
  for (rt::File* file : {&history, &timecard, &employee}) rt::FileClose(*file);
}

// Deletes the employee through its relation manager.
void FrameworkDelete() {
  app::DictionaryInit();
  dataaccess::RelationManager& relations = *app::RelationManagerOf(app::EmployeeFile());
  dataaccess::FileManager& employee = *app::FileManagerOf(app::EmployeeFile());
  Check(relations.Open(0) == errors::LevelBenign, "open employee");
  employee.File->Field(app::emp::kCompany).SetInt(kCompany);
  employee.File->Field(app::emp::kCardNo).SetInt(kCard);
  Check(employee.Fetch(app::EmployeeFile().KeyNumber("EMP:BYCOMPCARD")) == errors::LevelBenign,
        "fetch employee");
  Check(relations.Delete(0) == errors::LevelBenign, "cascade delete");
  relations.Close(0);
  app::DictionaryKill();
}

long Remaining(const rt::FileDeclaration& decl) {
  rt::File file(decl);
  rt::FileOpen(file, rt::kAccessRead | rt::kShareDenyNone);
  long count = static_cast<long>(rt::FileRecords(file));
  rt::FileClose(file);
  return count;
}

struct Environment {
  Environment() {
    char pattern[] = "/tmp/relation-cascade-XXXXXX";
    Check(::mkdtemp(pattern) != nullptr, "temporary folder");
    root = pattern;
    home = fs::current_path();
    rt::SetBackend(&backend);
    app::BuildGlobals();
    app::MainRegisterFiles();
    app::GlobalErrors()->Init(app::ErrorStatusVar);
    dataaccess::ThreadRegistry().Init();
    punches = Punches();
    MakeMaster(root / "master", punches);
  }
  ~Environment() {
    dataaccess::ThreadRegistry().Kill();
    app::ReleaseGlobals();
    rt::SetBackend(nullptr);
    fs::current_path(home);
    std::error_code ignored;
    fs::remove_all(root, ignored);
  }
  // A fresh copy of the master files; the working directory moves into it.
  void Fresh() {
    fs::current_path(root);
    fs::remove_all(root / "run");
    fs::copy(root / "master", root / "run", fs::copy_options::recursive);
    fs::current_path(root / "run");
  }

  fs::path root;
  fs::path home;
  long punches = 0;
  rt::HeadlessBackend backend;
};

Environment& Env() {
  static Environment environment;
  return environment;
}

void Run(benchmark::State& state, bool framework) {
  Environment& env = Env();
  double seconds = 0;
  for (auto _ : state) {
    state.PauseTiming();
    env.Fresh();
    state.ResumeTiming();
    const auto start = std::chrono::steady_clock::now();
    framework ? FrameworkDelete() : RawDelete();
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.PauseTiming();
    Check(Remaining(app::TimecardFile()) == env.punches / 10, "punches left in Timecard");
    Check(Remaining(app::HTimecardFile()) == env.punches / 10, "punches left in HTimecard");
    state.ResumeTiming();
  }
  static double raw = 0;
  if (!framework) raw = seconds;
  state.counters[framework ? "framework_s" : "raw_s"] = seconds;
  if (framework && raw > 0) state.counters["framework/raw"] = seconds / raw;
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  state.counters["peak_rss_MiB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
  state.counters["deleted"] = static_cast<double>(env.punches + env.punches / 2 + 1);
}

void BM_RawCascadeDelete(benchmark::State& state) { Run(state, false); }
void BM_FrameworkCascadeDelete(benchmark::State& state) { Run(state, true); }

BENCHMARK(BM_RawCascadeDelete)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FrameworkCascadeDelete)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace
