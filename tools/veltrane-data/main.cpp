// veltrane-data: makes, fills, exports, imports and inspects the data files
// of a working folder (its files live in FOLDER/data/), through the runtime's
// file operations like the program itself. kHelp below lists the commands.
//
// Long work (generate, import, export, check) shows a live progress line on
// standard error while that is a terminal; --quiet silences it and the
// summary. Exit status: 0 done; 1 a command line that cannot be read (what
// was wrong and the usage on standard error); 2 the work failed (one clear
// line on standard error; for check, anything wrong in the files; also
// standard output that could not be written, as its result is lost).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/database_choice.h"
#include "app/schema.h"
#include "app/standard_output.h"
#include "app/version.h"
#include "runtime/core/error_state.h"
#include "runtime/core/pictures.h"
#include "runtime/core/text.h"
#include "runtime/files/file.h"
#include "runtime/files/file_operations.h"
#include "runtime/files/transaction.h"
#include "runtime/files/view.h"
#include "runtime/postgres/keyed_driver.h"
#include "runtime/postgres/server_connection.h"
#include "runtime/postgres/server_transaction.h"
#include "tools/veltrane-data/csv_table.h"
#include "tools/veltrane-data/progress_line.h"
#include "tools/veltrane-data/punch_generator.h"
#include "tools/veltrane-data/store_migration.h"

namespace {

constexpr int kBadUsage = 1;
constexpr int kFailed = 2;

constexpr const char* kSynopsis =
    "usage: veltrane-data init FOLDER\n"
    "       veltrane-data generate FOLDER --punches N [--from MM/DD/YYYY] [--to MM/DD/YYYY]\n"
    "                     [--companies C] [--cards K] [--seed S]\n"
    "       veltrane-data import FOLDER LABEL FILE.csv [--allow-duplicates]\n"
    "       veltrane-data export FOLDER LABEL [FILE.csv] [--through MM/DD/YYYY]\n"
    "       veltrane-data stats FOLDER [--through MM/DD/YYYY]\n"
    "       veltrane-data check FOLDER\n"
    "       veltrane-data migrate FOLDER (--to CONN | --from CONN)\n"
    "  each but migrate also takes [--database CONN]\n";

constexpr const char* kHelp =
    "Makes, fills, exports and inspects the data files of a Veltrane working\n"
    "folder. The files are in FOLDER/data/, or tables on a PostgreSQL server when\n"
    "a connection is given, first found of --database CONN, VELTRANE_DATABASE or\n"
    "Server= in the [Database] section of FOLDER/Veltrane.INI, as for veltrane.\n"
    "LABEL names one of them (Timecard, Employee, PayType, ...).\n"
    "\n"
    "  init      creates the data files that are missing, empty\n"
    "  generate  adds N made-up punches to Timecard (dated on working days\n"
    "            through --to, 12/31/2023 unless given, the last on the last one;\n"
    "            the same --seed gives the same punches)\n"
    "            and the departments, pay types and employees they belong to\n"
    "  import    adds every row of a CSV file to a data file, or none when a row\n"
    "            is bad (each bad row is named by its line), and none when rows\n"
    "            are identical in every field to records already in the file,\n"
    "            unless --allow-duplicates\n"
    "  export    writes a data file as CSV, to standard output without FILE.csv;\n"
    "            with --through (Timecard only), exactly the punches a purge\n"
    "            through that date removes, to keep a copy before purging\n"
    "  stats     record counts, the range of duty dates, and with --through how\n"
    "            many punches a purge through that date would remove\n"
    "  check     checks every data file: its storage, and every record against\n"
    "            its declaration; lists each record that cannot be read (file,\n"
    "            record number, key values, column, why); changes nothing\n"
    "  migrate   --to CONN copies every data file of FOLDER/data/ into tables on\n"
    "            the server, which must be missing or empty; --from CONN copies\n"
    "            the server's tables into new files in FOLDER/data/, never over a\n"
    "            file there. One transaction: all or nothing. Afterwards each\n"
    "            table and its file are compared (counts, and a checksum over the\n"
    "            records in key order)\n"
    "\n"
    "  -q, --quiet  no progress line and no summary\n"
    "  -h, --help   shows this help\n"
    "  --version    shows the version\n"
    "\n"
    "Exit status: 0 done, 1 a command line that cannot be read, 2 the work failed\n"
    "(check: something is wrong in the files).\n";

// Messages name what came from outside (arguments, file names, cells) with
// its control characters shown escaped, so none of it can drive the terminal.
int Fail(const std::string& message) {
  std::cerr << "veltrane-data: " << rt::PrintableText(message) << "\n";
  return kFailed;
}

int Usage(const std::string& message) {
  std::cerr << "veltrane-data: " << rt::PrintableText(message) << "\n"
            << kSynopsis << "Try 'veltrane-data --help' for more information.\n";
  return kBadUsage;
}

// What follows the command on the command line.
struct Invocation {
  std::vector<std::string> Args;               // FOLDER and what follows it
  std::map<std::string, std::string> Options;  // "--name value", keyed by name
  std::set<std::string> Flags;                 // "--name" alone, by name
  bool Quiet = false;
};

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

// Makes FOLDER, with any folders above it that are missing, and works inside it.
bool MakeAndEnterFolder(const std::string& folder, std::string& error) {
  std::error_code ignored;  // entering it says what went wrong
  std::filesystem::create_directories(folder, ignored);
  return EnterFolder(folder, error);
}

// Works inside FOLDER (made first when `make`), on the store veltrane would
// use there: the server of --database, VELTRANE_DATABASE or [Database]
// Server= in FOLDER's Veltrane.INI, first found, else the files in data/.
// False with one line in `error` when the server cannot be reached.
bool EnterStore(const Invocation& call, bool make, std::string& error) {
  if (!(make ? MakeAndEnterFolder(call.Args[0], error) : EnterFolder(call.Args[0], error)))
    return false;
  auto given = call.Options.find("database");
  return app::UseDatabase(given == call.Options.end() ? "" : given->second, error);
}

bool OnServer() { return !rt::postgres::Server().empty(); }

// The table a data file is on a server: its disk file's stem.
std::string TableOf(const rt::FileDeclaration& decl) {
  return std::filesystem::path(decl.Path()).stem().string();
}

// How messages name a data file: its path, or its table on a server.
std::string Named(const rt::FileDeclaration& decl) {
  return OnServer() ? "table " + TableOf(decl) : decl.Path();
}

const rt::FileDeclaration* FileByLabel(const std::string& label) {
  for (const auto* decl : app::AllFiles())
    if (rt::SameIgnoringCase(decl->Label(), label)) return decl;
  return nullptr;
}

// Creates the data folder and every file that is not there yet (on a
// server, every table). The alias shares its disk file with Timecard.
int CreateMissingFiles(bool quiet) {
  if (!OnServer()) ::mkdir("data", 0777);
  for (const auto* decl : app::AllFiles()) {
    if (rt::FileExists(decl->DiskName())) continue;
    rt::File file(*decl);
    rt::FileCreate(file);
    if (rt::ErrorCode() != 0) return Fail("cannot create " + Named(*decl) + ": " + RuntimeError());
    if (!quiet) std::cout << "created " << Named(*decl) << "\n";
  }
  return 0;
}

std::optional<long long> Number(const std::string& text, long long low, long long high) {
  if (text.empty() || text.size() > 12) return std::nullopt;
  for (char c : text)
    if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
  long long value = std::stoll(text);
  if (value < low || value > high) return std::nullopt;
  return value;
}

// The day number of a "--name MM/DD/YYYY" option; 0 when it is not given.
// Nothing when it is given but is no date.
std::optional<std::int32_t> DateOption(const Invocation& call, const std::string& name) {
  auto it = call.Options.find(name);
  if (it == call.Options.end()) return 0;
  auto day = rt::Deformat(it->second, "D02");
  if (!day || *day <= 0) return std::nullopt;
  return static_cast<std::int32_t>(*day);
}

// Seconds a command that reads waits for another program's write to end (a
// purge's batch commit takes a few seconds) before it gives up.
constexpr int kReadWaitSeconds = 30;

// Why `file` cannot be read, after a failed open or begin: another program
// kept writing it past kReadWaitSeconds, or the runtime's own error.
std::string ReadFailure(const rt::File& file) {
  return "cannot read " + Named(file.Declaration()) + ": " +
         (rt::ErrorCode() == rt::kRecordHeld
              ? "another program kept writing it for " + std::to_string(kReadWaitSeconds) +
                    " seconds; try again when it is done"
              : RuntimeError());
}

// Opens `file` for reading, sharing it with every other program. Opening
// reads the file's layout, which waits for another program's commit (a
// purge's batch) as the reads that follow do, not the runtime's default two
// seconds.
void OpenForReading(rt::File& file) {
  rt::FileSend(file, "Recover=" + std::to_string(kReadWaitSeconds));
  rt::FileOpen(file, 0x40);
}

// Begins one read transaction over `files` (open): until TxRollback the reads
// see one state of each, first record to last. In SQLite files no other
// program commits to them meanwhile (a purge waits for the end, or gives up
// as it says); on a server `snapshot` holds one state of every table while
// others go on writing. False with `error` naming the file when another
// program keeps writing it past kReadWaitSeconds; nothing is then held.
bool BeginReading(const std::vector<rt::File*>& files, rt::postgres::ServerTransaction& snapshot,
                  std::string& error) {
  if (OnServer()) {
    error = snapshot.Begin(rt::postgres::ServerTransaction::Kind::Snapshot);
    if (!error.empty()) return false;
  }
  for (rt::File* file : files) {
    rt::TxBegin(kReadWaitSeconds, *file);
    if (rt::ErrorCode() == 0) continue;
    error = ReadFailure(*file);
    rt::TxRollback();
    return false;
  }
  return true;
}

// Makes a finished export file durable under its own name: a copy kept before
// a purge must not be lost to a crash that the purge's commit survives, and a
// failed export must not replace a good copy. `part` is renamed to `path`.
bool KeepFile(const std::string& part, const std::string& path, std::string& error) {
  int fd = ::open(part.c_str(), O_RDONLY | O_CLOEXEC);
  bool synced = fd >= 0 && ::fsync(fd) == 0;
  const int reason = errno;
  if (fd >= 0) ::close(fd);
  if (!synced || std::rename(part.c_str(), path.c_str()) != 0)
    return error = "cannot write " + path + ": " + std::strerror(synced ? errno : reason), false;
  std::string folder = std::filesystem::path(path).parent_path().string();
  fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
  return true;
}

int Init(const Invocation& call) {
  std::string error;
  if (!EnterStore(call, true, error)) return Fail(error);
  return CreateMissingFiles(call.Quiet);
}

int Generate(const Invocation& call) {
  auto option = [&](const char* name) -> const std::string* {
    auto it = call.Options.find(name);
    return it == call.Options.end() ? nullptr : &it->second;
  };
  if (!option("punches")) return Usage("generate needs --punches N");
  veltrane_data::GeneratorOptions o;
  auto punches = Number(*option("punches"), 1, 100000000);
  if (!punches) return Usage("--punches must be a whole number from 1 to 100000000");
  o.Punches = *punches;
  auto from = DateOption(call, "from"), to = DateOption(call, "to");
  if (!from) return Usage("--from must be a date MM/DD/YYYY");
  if (!to) return Usage("--to must be a date MM/DD/YYYY");
  o.From = *from;
  o.To = *to;
  if (const auto* text = option("companies")) {
    auto n = Number(*text, 1, 999);
    if (!n) return Usage("--companies must be from 1 to 999");
    o.Companies = static_cast<int>(*n);
  }
  if (const auto* text = option("cards")) {
    auto n = Number(*text, 1, 9999999);
    if (!n) return Usage("--cards must be from 1 to 9999999");
    o.Cards = static_cast<int>(*n);
  }
  if (const auto* text = option("seed")) {
    auto n = Number(*text, 0, 999999999999LL);
    if (!n) return Usage("--seed must be a whole number");
    o.Seed = static_cast<std::uint64_t>(*n);
  }
  std::string error;
  if (!EnterStore(call, true, error)) return Fail(error);
  if (int code = CreateMissingFiles(true)) return code;
  rt::File timecard(app::TimecardFile());
  rt::FileOpen(timecard, 0x12);  // nobody else writes while we fill
  if (rt::ErrorCode() != 0) return Fail("cannot open Timecard: " + RuntimeError());
  veltrane_data::ProgressLine progress(stderr, !call.Quiet);
  std::vector<veltrane_data::PunchedCard> punched;
  bool generated = veltrane_data::GeneratePunches(timecard, o, progress, punched, error);
  progress.Clear();
  if (!generated) return Fail(error);
  veltrane_data::RelatedCounts added;
  if (!veltrane_data::AddRelatedRecords(punched, added, error)) return Fail(error);
  if (!call.Quiet)
    std::cout << "generated " << o.Punches << " punches in " << Named(app::TimecardFile())
              << ", with " << added.Departments << " departments, " << added.PayTypes
              << " pay types and " << added.Employees << " employees\n";
  return 0;
}

// Where an export to `named` goes: the file a symbolic link names (the copy
// replaces that file, not the link), made absolute before the tool enters the
// folder. Only a new or a regular file is written: the copy takes the place
// of what is there, and a device, pipe or folder must not be replaced.
bool ExportTarget(const std::string& named, std::string& path, std::string& error) {
  namespace fs = std::filesystem;
  fs::path target = fs::absolute(named);
  std::error_code ec;
  for (int links = 0; fs::is_symlink(fs::symlink_status(target, ec)); ++links) {
    if (links == 40) return error = "cannot write " + named + ": too many symbolic links", false;
    const fs::path to = fs::read_symlink(target, ec);
    if (ec) return error = "cannot write " + named + ": " + ec.message(), false;
    target = (to.is_absolute() ? to : target.parent_path() / to).lexically_normal();
  }
  const fs::file_status status = fs::status(target, ec);
  if (fs::exists(status) && !fs::is_regular_file(status))
    return error = named + " is not a regular file; the CSV is written to a new or a regular file",
           false;
  path = target.string();
  return true;
}

int Export(const Invocation& call) {
  const auto* decl = FileByLabel(call.Args[1]);
  if (!decl) return Fail("no data file is labelled " + call.Args[1]);
  auto through = DateOption(call, "through");
  if (!through) return Usage("--through must be a date MM/DD/YYYY");
  if (*through != 0 && decl != &app::TimecardFile())
    return Usage("--through applies to Timecard only");
  // The CSV is written beside its final name and takes that name only once
  // complete; the path is made absolute before entering the folder.
  std::string path, part, error;
  std::ofstream out;
  if (call.Args.size() == 3) {
    if (!ExportTarget(call.Args[2], path, error)) return Fail(error);
    part = path + ".part";
    // The copy takes the place of what is there: never of a data file (a
    // slip of FILE for the punch file would lose every punch).
    char header[16] = {};
    std::ifstream(path, std::ios::binary).read(header, sizeof header);
    if (std::string(header, sizeof header) == std::string("SQLite format 3", 16))
      return Fail(call.Args[2] + " is a data file; the CSV is not written over it");
    out.open(part, std::ios::binary | std::ios::trunc);
    if (!out) return Fail("cannot write " + call.Args[2]);
  }
  auto failed = [&](const std::string& message) {
    if (!part.empty()) std::remove(part.c_str());
    return Fail(message);
  };
  if (!EnterStore(call, false, error)) return failed(error);
  rt::File file(*decl);
  OpenForReading(file);
  if (rt::ErrorCode() != 0) return failed(ReadFailure(file));
  // A purge through a date removes every punch dated on or before it, a punch
  // without a date (0) too.
  veltrane_data::RecordFilter keep;
  if (*through != 0)
    keep = [cutoff = *through](rt::File& punches) {
      return punches.Field(app::tim::kDutyDate).GetInt() <= cutoff;
    };
  rt::postgres::ServerTransaction snapshot;
  if (!BeginReading({&file}, snapshot, error)) return failed(error);
  veltrane_data::ProgressLine progress(stderr, !call.Quiet);
  std::int64_t written = veltrane_data::ExportCsv(
      file, part.empty() ? std::cout : static_cast<std::ostream&>(out), keep, progress, error);
  progress.Clear();
  rt::TxRollback();  // only read
  if (written < 0) return failed("cannot export " + decl->Label() + ": " + error);
  if (!part.empty()) {
    errno = 0;
    out.close();
    if (out.fail())
      return failed("cannot write " + call.Args[2] + ": " + std::strerror(errno != 0 ? errno : EIO));
    if (!KeepFile(part, path, error)) return failed(error);
  }
  if (call.Quiet) return 0;
  std::string summary = "exported " + std::to_string(written);
  if (*through != 0)
    summary += " punches dated through " + rt::Format(*through, "D02") + " from Timecard";
  else
    summary += " records of " + decl->Label();
  if (part.empty())
    std::cerr << summary << "\n";  // standard output carries the CSV
  else
    std::cout << summary << " to " << call.Args[2] << "\n";
  return 0;
}

int Import(const Invocation& call) {
  const auto* decl = FileByLabel(call.Args[1]);
  if (!decl) return Fail("no data file is labelled " + call.Args[1]);
  const std::string& csv = call.Args[2];
  std::error_code ec;
  if (std::filesystem::is_directory(csv, ec)) return Fail("cannot read " + csv + ": it is a folder");
  std::ifstream in(csv, std::ios::binary);
  if (!in) return Fail("cannot read " + csv);
  std::string error;
  if (!EnterStore(call, true, error)) return Fail(error);
  if (int code = CreateMissingFiles(true)) return code;
  rt::File file(*decl);
  rt::FileOpen(file, 0x12);
  if (rt::ErrorCode() != 0) return Fail("cannot open " + Named(*decl) + ": " + RuntimeError());
  std::vector<veltrane_data::CsvProblem> problems;
  veltrane_data::CsvDuplicates duplicates;
  veltrane_data::ProgressLine progress(stderr, !call.Quiet);
  long imported = veltrane_data::ImportCsv(file, in, call.Flags.count("allow-duplicates") > 0,
                                           progress, problems, duplicates);
  progress.Clear();
  if (duplicates.Rows > 0)
    return Fail("nothing imported: " + std::to_string(duplicates.Rows) + " row(s) of " + csv +
                " are identical in every field to records already in " + decl->Label() +
                ", the first at line " + std::to_string(duplicates.FirstLine) +
                " (imported again, they would be there twice); --allow-duplicates imports them");
  if (!problems.empty()) {
    // Line 0 is the data file's own failure (locked by another process, for
    // one): every row passed, so no row is blamed for it.
    if (problems.front().Line == 0)
      return Fail("nothing imported into " + decl->Label() + ": " + problems.front().Text);
    for (const auto& p : problems)
      std::cerr << rt::PrintableText(csv) << ":" << p.Line << ": " << rt::PrintableText(p.Text)
                << "\n";
    return Fail("nothing imported: " + std::to_string(problems.size()) + " bad row(s) in " + csv);
  }
  if (!call.Quiet)
    std::cout << "imported " << imported << " records into " << decl->Label() << "\n";
  return 0;
}

int Stats(const Invocation& call) {
  auto through = DateOption(call, "through");
  if (!through) return Usage("--through must be a date MM/DD/YYYY");
  std::string error;
  if (!EnterStore(call, false, error)) return Fail(error);
  // Every file is opened first (none can join a transaction already begun),
  // then all are read in one transaction, so the counts are of one moment.
  struct Counted {
    std::unique_ptr<rt::File> File;  // null when it cannot be opened
    std::string Line;                // why not, then
  };
  std::vector<Counted> counted;
  std::vector<rt::File*> opened;
  rt::File* timecard = nullptr;
  std::string timecardError;
  for (const auto* decl : app::AllFiles()) {
    if (decl == &app::AliasTimeCardFile()) continue;
    auto file = std::make_unique<rt::File>(*decl);
    OpenForReading(*file);
    if (rt::ErrorCode() == rt::kRecordHeld) return Fail(ReadFailure(*file));
    if (rt::ErrorCode() != 0) {
      counted.push_back({nullptr, decl->Label() + ": " + RuntimeError()});
      if (decl == &app::TimecardFile()) timecardError = RuntimeError();
      continue;
    }
    opened.push_back(file.get());
    if (decl == &app::TimecardFile()) timecard = file.get();
    counted.push_back({std::move(file), {}});
  }
  rt::postgres::ServerTransaction snapshot;
  if (!BeginReading(opened, snapshot, error)) return Fail(error);
  std::vector<std::string> lines;
  for (auto& [file, line] : counted) {
    if (file) {
      std::int64_t records = rt::FileRecords(*file);
      if (rt::ErrorCode() != 0)
        return rt::TxRollback(),
               Fail("cannot count " + file->Declaration().Label() + ": " + RuntimeError());
      line = file->Declaration().Label() + ": " + std::to_string(records) + " records";
    }
    lines.push_back(line);
  }
  if (!timecard) {
    rt::TxRollback();
    for (const auto& line : lines) std::cout << line << "\n";
    return Fail("cannot open Timecard: " + timecardError);
  }
  rt::View view(*timecard);
  rt::ViewSetProperty(view, rt::kPropOrder, "TIM:DUTYDATE");
  rt::FileOpen(view);
  rt::ViewSetStart(view, 0);
  rt::FileNext(view);
  if (rt::ErrorCode() == 0) {
    auto first = timecard->Field(app::tim::kDutyDate).GetInt();
    rt::ViewSetStart(view, 0);
    rt::FilePrevious(view);
    auto last = timecard->Field(app::tim::kDutyDate).GetInt();
    // A day number no calendar date has (another tool wrote it) is shown as
    // the number, not as the picture's 00/00/0000.
    auto shown = [](std::int64_t day) {
      const std::string date = rt::Format(day, "D02B");
      return date.empty() ? "day number " + std::to_string(day) + " (no date)" : date;
    };
    lines.push_back("Timecard duty dates: " + shown(first) + " to " + shown(last));
  }
  if (*through != 0) {
    rt::ViewSetProperty(view, rt::kPropOrder, "");
    rt::ViewSetProperty(view, rt::kPropFilter, "TIM:DUTYDATE <= " + std::to_string(*through));
    rt::FileBuffer(view, 500, 0, 0, 60);
    rt::ViewSetStart(view, 0);
    long long removed = 0;
    for (rt::FileNext(view); rt::ErrorCode() == 0; rt::FileNext(view)) ++removed;
    if (rt::ErrorCode() != rt::kRecordNotAvailable)
      return rt::TxRollback(), Fail("cannot read Timecard: " + RuntimeError());
    lines.push_back("a purge through " + rt::Format(*through, "D02") + " would remove " +
                    std::to_string(removed) + " punches");
  }
  rt::TxRollback();  // only read
  for (const auto& line : lines) std::cout << line << "\n";
  return 0;
}

// Checks every data file: the storage's own integrity check, then every
// record read against its declaration. Lists each problem on standard output
// (file, then what is wrong: for a record, its number, key values, column
// and why) and ends with a verdict. Opens every file for reading and reads
// in one transaction, so it changes nothing and sees one state of the files.
int Check(const Invocation& call) {
  std::string error;
  if (!EnterStore(call, false, error)) return Fail(error);
  std::vector<std::unique_ptr<rt::File>> files;
  std::vector<rt::File*> opened;
  int problems = 0;
  veltrane_data::ProgressLine progress(stderr, !call.Quiet);
  auto problem = [&](const rt::FileDeclaration& decl, const std::string& what) {
    progress.Pause();
    std::cout << Named(decl) << ": " << rt::PrintableText(what) << std::endl;
    ++problems;
  };
  for (const auto* decl : app::AllFiles()) {
    if (decl == &app::AliasTimeCardFile()) continue;
    if (!rt::FileExists(decl->DiskName())) {
      problem(*decl, OnServer() ? "no such table ('veltrane-data init' makes the missing tables, "
                                  "empty)"
                                : "no such file ('veltrane-data init' makes the missing files, "
                                  "empty)");
      continue;
    }
    files.push_back(std::make_unique<rt::File>(*decl));
    OpenForReading(*files.back());
    // A file another program keeps writing is busy, not wrong: nothing about
    // it can be said.
    if (rt::ErrorCode() == rt::kRecordHeld) return Fail(ReadFailure(*files.back()));
    if (rt::ErrorCode() != 0) {
      problem(*decl, "cannot be opened: " + RuntimeError());
      continue;
    }
    opened.push_back(files.back().get());
  }
  rt::postgres::ServerTransaction snapshot;
  if (!BeginReading(opened, snapshot, error)) return Fail(error);
  // The server's check of its pages and indexes is an extension it may lack.
  const std::string unchecked = OnServer() ? rt::postgres::PageCheckMissing() : "";
  std::int64_t checked = 0;
  for (rt::File* file : opened) {
    const rt::FileDeclaration& decl = file->Declaration();
    progress.Start("checking the pages and indexes of " + Named(decl), "", 0);
    for (const auto& text : rt::FileCheckIntegrity(*file)) problem(decl, text);
    if (rt::ErrorCode() != 0) problem(decl, "cannot be checked: " + RuntimeError());
    progress.Start("checking " + Named(decl), "records", rt::FileRecords(*file));
    rt::FileSetProperty(*file, rt::kPropReadAhead, "500");
    rt::FileSetKey(*file, 0);
    std::int64_t read = 0;
    for (;;) {
      rt::FileNext(*file);
      if (rt::ErrorCode() == rt::kRecordNotAvailable) break;
      progress.Update(++read);
      if (rt::ErrorCode() == rt::kInvalidDeclaration) {
        problem(decl, rt::FileErrorText());  // the cursor goes on after it
      } else if (rt::ErrorCode() != 0) {
        problem(decl, "cannot be read after " + std::to_string(read - 1) + " records: " +
                          RuntimeError());
        break;
      }
    }
    checked += read;
  }
  progress.Clear();
  rt::TxRollback();  // only read
  if (!unchecked.empty() && !call.Quiet)
    std::cout << "the server's pages and indexes were not checked: " << unchecked << "\n";
  if (problems == 0) {
    if (!call.Quiet)
      std::cout << "all sound: " << opened.size() << (OnServer() ? " tables, " : " data files, ")
                << checked << " records\n";
    return 0;
  }
  std::cerr << "veltrane-data: " << problems << (problems == 1 ? " problem" : " problems")
            << " found in the data "
            << (OnServer() ? "on " + rt::postgres::Shown(rt::postgres::Server())
                           : "files of " + call.Args[0])
            << "\n";
  return kFailed;
}

// Moves the folder's data to a server (--to) or from one (--from) as
// store_migration.h says, then says what it compared.
int Migrate(const Invocation& call) {
  const bool to = call.Options.count("to") > 0, from = call.Options.count("from") > 0;
  if (to == from) return Usage("migrate needs either --to CONN or --from CONN");
  if (call.Options.count("database"))
    return Usage("migrate names its server with --to or --from, not --database");
  const std::string& connection = call.Options.at(to ? "to" : "from");
  if (connection.empty()) return Usage(std::string(to ? "--to" : "--from") + " needs a connection");
  std::string error;
  if (!(to ? EnterFolder(call.Args[0], error) : MakeAndEnterFolder(call.Args[0], error)))
    return Fail(error);
  veltrane_data::ProgressLine progress(stderr, !call.Quiet);
  std::vector<veltrane_data::MigratedFile> copied;
  const bool moved = to ? veltrane_data::MigrateToServer(connection, progress, copied, error)
                        : veltrane_data::MigrateFromServer(connection, progress, copied, error);
  progress.Clear();
  const std::string server = rt::postgres::Shown(connection);
  if (!moved)
    return Fail("nothing migrated " + std::string(to ? "to " : "from ") + server + ": " + error);
  if (call.Quiet) return 0;
  std::int64_t records = 0;
  for (const auto& file : copied) {
    char checksum[17];
    std::snprintf(checksum, sizeof checksum, "%016llx",
                  static_cast<unsigned long long>(file.Checksum));
    std::cout << file.Label << ": " << file.Records << " records, checksum " << checksum
              << ", the same in its file and its table\n";
    records += file.Records;
  }
  std::cout << "migrated " << copied.size() << " data files (" << records << " records) "
            << (to ? "from " + call.Args[0] + "/data/ to " + server
                   : "from " + server + " to " + call.Args[0] + "/data/")
            << "\n";
  return 0;
}

struct Command {
  const char* Name;
  std::size_t LeastArgs, MostArgs;  // FOLDER included
  const char* Arguments;            // named in the message when the count is wrong
  std::vector<std::string> Options;  // each takes a value
  std::vector<std::string> Flags;    // none takes one
  int (*Run)(const Invocation&);
};

const std::vector<Command>& Commands() {
  static const std::vector<Command> commands = {
      {"init", 1, 1, "FOLDER only", {}, {}, Init},
      {"generate", 1, 1, "FOLDER and --punches N",
       {"punches", "from", "to", "companies", "cards", "seed"}, {}, Generate},
      {"import", 3, 3, "FOLDER LABEL FILE.csv", {}, {"allow-duplicates"}, Import},
      {"export", 2, 3, "FOLDER LABEL [FILE.csv]", {"through"}, {}, Export},
      {"stats", 1, 1, "FOLDER", {"through"}, {}, Stats},
      {"check", 1, 1, "FOLDER only", {}, {}, Check},
      {"migrate", 1, 1, "FOLDER and --to CONN or --from CONN", {"to", "from"}, {}, Migrate},
  };
  return commands;
}

int RunTool(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  for (const auto& arg : args) {
    if (arg == "--help" || arg == "-h") {
      std::cout << kSynopsis << "\n" << kHelp;
      return 0;
    }
    if (arg == "--version") {
      std::cout << "veltrane-data " << app::kVersion << "\n";
      return 0;
    }
  }
  if (args.empty()) return Usage("no command");
  const Command* command = nullptr;
  for (const auto& c : Commands())
    if (args[0] == c.Name) command = &c;
  if (!command)
    return Usage((args[0].starts_with("-") ? "unknown option '" : "unknown command '") + args[0] +
                 "'");

  Invocation call;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--quiet" || arg == "-q") {
      call.Quiet = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      // "--name value" or "--name=value".
      std::size_t equals = arg.find('=');
      std::string option = arg.substr(0, equals);
      std::string name = option.starts_with("--") ? option.substr(2) : std::string();
      bool flag = false, known = false;
      for (const auto& allowed : command->Flags) flag = flag || allowed == name;
      if (flag) {
        if (equals != std::string::npos) return Usage(option + " takes no value");
        if (!call.Flags.insert(name).second) return Usage(option + " is given twice");
        continue;
      }
      // Every command works on the store --database names.
      known = name == "database";
      for (const auto& allowed : command->Options) known = known || allowed == name;
      if (!known) return Usage("unknown option '" + option + "' for " + command->Name);
      if (equals == std::string::npos && i + 1 == args.size())
        return Usage(option + " needs a value");
      if (call.Options.count(name)) return Usage(option + " is given twice");
      call.Options[name] = equals == std::string::npos ? args[++i] : arg.substr(equals + 1);
    } else {
      call.Args.push_back(arg);
    }
  }
  if (call.Args.size() < command->LeastArgs || call.Args.size() > command->MostArgs)
    return Usage(std::string(command->Name) + " needs " + command->Arguments);
  return command->Run(call);
}

}  // namespace

int main(int argc, char** argv) {
  const int status = RunTool(argc, argv);
  // What the command wrote must have gone out (a full disk fails only as the
  // output is flushed): otherwise its result is lost, and that is a failure.
  // A command that failed has said why already.
  if (status != 0) return status;
  if (const std::string why = app::StandardOutputFailure(); !why.empty())
    return Fail("cannot write standard output: " + why);
  return 0;
}
