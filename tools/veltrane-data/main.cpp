// veltrane-data: makes, fills, exports, imports and inspects the data files
// of a working folder (its files live in FOLDER/data/), through the runtime's
// file operations like the program itself.
//
//   veltrane-data init FOLDER
//   veltrane-data generate FOLDER --punches N [--from MM/DD/YYYY --to MM/DD/YYYY
//                 --companies C --cards K --seed S]
//   veltrane-data import FOLDER LABEL FILE.csv
//   veltrane-data export FOLDER LABEL [FILE.csv]
//   veltrane-data stats FOLDER [--through MM/DD/YYYY]
//
// Errors go to standard error as one clear line each; the exit code is then 1
// (2 for a command line that cannot be read).
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/schema.h"
#include "runtime/core/error_state.h"
#include "runtime/core/pictures.h"
#include "runtime/core/text.h"
#include "runtime/files/file.h"
#include "runtime/files/file_operations.h"
#include "runtime/files/view.h"
#include "tools/veltrane-data/csv_table.h"
#include "tools/veltrane-data/punch_generator.h"

namespace {

constexpr const char* kUsage =
    "usage: veltrane-data init FOLDER\n"
    "       veltrane-data generate FOLDER --punches N [--from MM/DD/YYYY --to MM/DD/YYYY "
    "--companies C --cards K --seed S]\n"
    "       veltrane-data import FOLDER LABEL FILE.csv\n"
    "       veltrane-data export FOLDER LABEL [FILE.csv]\n"
    "       veltrane-data stats FOLDER [--through MM/DD/YYYY]\n";

int Fail(const std::string& message) {
  std::cerr << "veltrane-data: " << message << "\n";
  return 1;
}

int Usage(const std::string& message) {
  std::cerr << "veltrane-data: " << message << "\n" << kUsage;
  return 2;
}

std::string RuntimeError() {
  std::string text = rt::ErrorText();
  if (!rt::FileErrorText().empty() && rt::FileErrorText() != text)
    text += " (" + rt::FileErrorText() + ")";
  return text;
}

// Works inside FOLDER so the declarations' "data\..." names resolve there.
bool EnterFolder(const std::string& folder, std::string& error) {
  if (::chdir(folder.c_str()) != 0) {
    error = "cannot enter folder " + folder;
    return false;
  }
  return true;
}

const rt::FileDeclaration* FileByLabel(const std::string& label) {
  for (const auto* decl : app::AllFiles())
    if (rt::SameIgnoringCase(decl->Label(), label)) return decl;
  return nullptr;
}

// Creates the data folder and every file that is not there yet. The alias
// shares its disk file with Timecard.
int Init(bool quiet) {
  ::mkdir("data", 0777);
  for (const auto* decl : app::AllFiles()) {
    if (rt::FileExists(decl->DiskName())) continue;
    rt::File file(*decl);
    rt::FileCreate(file);
    if (rt::ErrorCode() != 0) return Fail("cannot create " + decl->Path() + ": " + RuntimeError());
    if (!quiet) std::cout << "created " << decl->Path() << "\n";
  }
  return 0;
}

// Options after the positional arguments: "--name value" pairs.
bool ReadOptions(const std::vector<std::string>& args, std::size_t first,
                 const std::vector<std::string>& allowed,
                 std::map<std::string, std::string>& options, std::string& error) {
  for (std::size_t i = first; i < args.size(); i += 2) {
    const auto& name = args[i];
    bool known = false;
    for (const auto& a : allowed) known = known || name == "--" + a;
    if (!known) return error = "unknown option " + name, false;
    if (i + 1 >= args.size()) return error = name + " needs a value", false;
    options[name.substr(2)] = args[i + 1];
  }
  return true;
}

std::optional<long long> Number(const std::string& text, long long low, long long high) {
  if (text.empty() || text.size() > 12) return std::nullopt;
  for (char c : text)
    if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
  long long value = std::stoll(text);
  if (value < low || value > high) return std::nullopt;
  return value;
}

int Generate(const std::vector<std::string>& args) {
  std::map<std::string, std::string> options;
  std::string error;
  if (!ReadOptions(args, 2, {"punches", "from", "to", "companies", "cards", "seed"}, options,
                   error))
    return Usage(error);
  if (!options.count("punches")) return Usage("generate needs --punches N");
  veltrane_data::GeneratorOptions o;
  auto punches = Number(options["punches"], 1, 100000000);
  if (!punches) return Usage("--punches must be a whole number from 1 to 100000000");
  o.Punches = *punches;
  for (const char* name : {"from", "to"}) {
    if (!options.count(name)) continue;
    auto day = rt::Deformat(options[name], "D02");
    if (!day) return Usage("--" + std::string(name) + " must be a date MM/DD/YYYY");
    (std::string(name) == "from" ? o.From : o.To) = static_cast<std::int32_t>(*day);
  }
  if (options.count("companies")) {
    auto n = Number(options["companies"], 1, 999);
    if (!n) return Usage("--companies must be from 1 to 999");
    o.Companies = static_cast<int>(*n);
  }
  if (options.count("cards")) {
    auto n = Number(options["cards"], 1, 9999999);
    if (!n) return Usage("--cards must be from 1 to 9999999");
    o.Cards = static_cast<int>(*n);
  }
  if (options.count("seed")) {
    auto n = Number(options["seed"], 0, 999999999999LL);
    if (!n) return Usage("--seed must be a whole number");
    o.Seed = static_cast<std::uint64_t>(*n);
  }
  ::mkdir(args[1].c_str(), 0777);
  if (!EnterFolder(args[1], error)) return Fail(error);
  if (int code = Init(true)) return code;
  rt::File timecard(app::TimecardFile());
  rt::FileOpen(timecard, 0x12);  // nobody else writes while we fill
  if (rt::ErrorCode() != 0) return Fail("cannot open Timecard: " + RuntimeError());
  if (!veltrane_data::GeneratePunches(timecard, o, error)) return Fail(error);
  std::cout << "generated " << o.Punches << " punches in " << app::TimecardFile().Path() << "\n";
  return 0;
}

int Export(const std::vector<std::string>& args) {
  if (args.size() < 3 || args.size() > 4) return Usage("export needs FOLDER LABEL [FILE.csv]");
  const auto* decl = FileByLabel(args[2]);
  if (!decl) return Fail("no data file is labelled " + args[2]);
  std::ofstream out;
  if (args.size() == 4) {
    out.open(args[3], std::ios::binary | std::ios::trunc);
    if (!out) return Fail("cannot write " + args[3]);
  }
  std::string error;
  if (!EnterFolder(args[1], error)) return Fail(error);
  rt::File file(*decl);
  rt::FileOpen(file, 0x40);
  if (rt::ErrorCode() != 0) return Fail("cannot open " + decl->Path() + ": " + RuntimeError());
  if (!veltrane_data::ExportCsv(
          file, args.size() == 4 ? static_cast<std::ostream&>(out) : std::cout, error))
    return Fail("cannot export " + decl->Label() + ": " + error);
  return 0;
}

int Import(const std::vector<std::string>& args) {
  if (args.size() != 4) return Usage("import needs FOLDER LABEL FILE.csv");
  const auto* decl = FileByLabel(args[2]);
  if (!decl) return Fail("no data file is labelled " + args[2]);
  std::ifstream in(args[3], std::ios::binary);
  if (!in) return Fail("cannot read " + args[3]);
  std::string error;
  ::mkdir(args[1].c_str(), 0777);
  if (!EnterFolder(args[1], error)) return Fail(error);
  if (int code = Init(true)) return code;
  rt::File file(*decl);
  rt::FileOpen(file, 0x12);
  if (rt::ErrorCode() != 0) return Fail("cannot open " + decl->Path() + ": " + RuntimeError());
  std::vector<veltrane_data::CsvProblem> problems;
  long imported = veltrane_data::ImportCsv(file, in, problems);
  if (!problems.empty()) {
    for (const auto& p : problems) std::cerr << args[3] << ":" << p.Line << ": " << p.Text << "\n";
    return Fail("nothing imported: " + std::to_string(problems.size()) + " bad row(s) in " +
                args[3]);
  }
  std::cout << "imported " << imported << " records into " << decl->Label() << "\n";
  return 0;
}

int Stats(const std::vector<std::string>& args) {
  std::map<std::string, std::string> options;
  std::string error;
  if (!ReadOptions(args, 2, {"through"}, options, error)) return Usage(error);
  std::int64_t through = 0;
  if (options.count("through")) {
    auto day = rt::Deformat(options["through"], "D02");
    if (!day) return Usage("--through must be a date MM/DD/YYYY");
    through = *day;
  }
  if (!EnterFolder(args[1], error)) return Fail(error);
  for (const auto* decl : app::AllFiles()) {
    if (decl == &app::AliasTimeCardFile()) continue;
    rt::File file(*decl);
    rt::FileOpen(file, 0x40);
    if (rt::ErrorCode() != 0) {
      std::cout << decl->Label() << ": " << RuntimeError() << "\n";
      continue;
    }
    std::cout << decl->Label() << ": " << rt::FileRecords(file) << " records\n";
  }
  rt::File timecard(app::TimecardFile());
  rt::FileOpen(timecard, 0x40);
  if (rt::ErrorCode() != 0) return Fail("cannot open Timecard: " + RuntimeError());
  rt::View view(timecard);
  rt::ViewSetProperty(view, rt::kPropOrder, "TIM:DUTYDATE");
  rt::FileOpen(view);
  rt::ViewSetStart(view, 0);
  rt::FileNext(view);
  if (rt::ErrorCode() == 0) {
    auto first = timecard.Field(app::tim::kDutyDate).GetInt();
    rt::ViewSetStart(view, 0);
    rt::FilePrevious(view);
    auto last = timecard.Field(app::tim::kDutyDate).GetInt();
    std::cout << "Timecard duty dates: " << rt::Format(first, "D02") << " to "
              << rt::Format(last, "D02") << "\n";
  }
  if (through != 0) {
    rt::ViewSetProperty(view, rt::kPropOrder, "");
    rt::ViewSetProperty(view, rt::kPropFilter, "TIM:DUTYDATE <= " + std::to_string(through));
    rt::FileBuffer(view, 500, 0, 0, 60);
    rt::ViewSetStart(view, 0);
    long long removed = 0;
    for (rt::FileNext(view); rt::ErrorCode() == 0; rt::FileNext(view)) ++removed;
    if (rt::ErrorCode() != rt::kRecordNotAvailable)
      return Fail("cannot read Timecard: " + RuntimeError());
    std::cout << "a purge through " << rt::Format(through, "D02") << " would remove " << removed
              << " punches\n";
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() < 2) return Usage(args.empty() ? "no command" : "no FOLDER");
  const std::string& command = args[0];
  if (command == "init") {
    if (args.size() != 2) return Usage("init needs FOLDER only");
    ::mkdir(args[1].c_str(), 0777);
    std::string error;
    if (!EnterFolder(args[1], error)) return Fail(error);
    return Init(false);
  }
  if (command == "generate") return Generate(args);
  if (command == "import") return Import(args);
  if (command == "export") return Export(args);
  if (command == "stats") return Stats(args);
  return Usage("unknown command " + command);
}
