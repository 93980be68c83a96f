// A fresh temporary folder with a small declared punch file, for tests that
// drive the KEYED driver through the runtime's file operations. The contract
// suite (KeyedContract) runs each test on both stores of the KEYED driver:
// SQLite files in the folder, and a fresh schema on the PostgreSQL test
// server (tests/support/test_server.h), which skips with one line where no
// server is given and fails under CI.
#pragma once

#include <gtest/gtest.h>
#include <poll.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "runtime/core/error_state.h"
#include "runtime/files/file.h"
#include "runtime/files/file_declaration.h"
#include "runtime/files/file_operations.h"
#include "runtime/files/transaction.h"
#include "runtime/postgres/server_connection.h"
#include "tests/support/declarations.h"
#include "tests/support/test_server.h"
#include "tests/support/temp_folder.h"

namespace keyed_test {

// Field and key numbers of the test file.
inline constexpr int kCompany = 1, kDutyDate = 2, kCard = 3, kTime = 4, kOrigin = 5, kHours = 6,
                     kJob = 7, kCodes = 8;
inline constexpr int kKeyDateCard = 1;  // company, duty date, card, time; duplicates
inline constexpr int kKeyCardTime = 2;  // card, time; unique
inline constexpr int kKeyOrigin = 3;    // UPPER(origin); duplicates, ignores case

// `uniqueCardTime` false lets key 2 hold duplicates too, so that punches may
// repeat every key.
inline std::unique_ptr<rt::FileDeclaration> PunchDeclaration(const std::string& path,
                                                             const std::string& prefix = "PUN",
                                                             bool uniqueCardTime = true) {
  auto field = [&](rt::FieldType type, const std::string& name, int size = 0, int places = 0) {
    return FieldDecl(type, prefix, name, size, places);
  };
  auto codes = field(rt::FieldType::Byte, "CODES");
  codes.Dimensions = {3};
  std::vector<rt::FieldDeclaration> fields = {
      field(rt::FieldType::Long, "COMPANY"),       field(rt::FieldType::Date, "DUTYDATE"),
      field(rt::FieldType::Decimal, "CARD", 4, 0), field(rt::FieldType::Long, "PTIME"),
      field(rt::FieldType::Text, "ORIGIN", 12),    field(rt::FieldType::Decimal, "HOURS", 3, 2),
      field(rt::FieldType::CText, "JOB", 7),       codes};
  auto key = [&](const std::string& name, std::uint8_t flags, std::vector<int> components) {
    return KeyDecl(prefix, name, flags, std::move(components));
  };
  std::vector<rt::KeyDeclaration> keys = {
      key("KEYDATECARD", rt::kKeyBase | rt::kKeyDuplicates, {kCompany, kDutyDate, kCard, kTime}),
      key("BYCARDTIME", uniqueCardTime ? rt::kKeyBase : rt::kKeyBase | rt::kKeyDuplicates,
          {kCard, kTime}),
      key("BYORIGIN", rt::kKeyBase | rt::kKeyDuplicates | rt::kKeyNoCase, {kOrigin})};
  return std::make_unique<rt::FileDeclaration>("KEYED", prefix == "PUN" ? "Punch" : "AliasPunch",
                                               prefix, path, fields, keys, 0);
}

struct Punch {
  int Company = 1;
  int DutyDate = 80000;
  int Card = 1;
  int Time = 0;
  std::string Origin = "CLOCK";
  std::string Hours = "8.25";
  std::string Job = "J1";
};

inline void SetPunch(rt::File& file, const Punch& p) {
  rt::FileClear(file);
  file.Field(kCompany).SetInt(p.Company);
  file.Field(kDutyDate).SetInt(p.DutyDate);
  file.Field(kCard).SetInt(p.Card);
  file.Field(kTime).SetInt(p.Time);
  file.Field(kOrigin).SetString(p.Origin);
  file.Field(kHours).SetDecimal(*rt::Decimal::Parse(p.Hours));
  file.Field(kJob).SetString(p.Job);
}

// "company/date/card/time" of the record in the buffer.
inline std::string KeyText(rt::File& file) {
  return std::to_string(file.Field(kCompany).GetInt()) + "/" +
         std::to_string(file.Field(kDutyDate).GetInt()) + "/" +
         std::to_string(file.Field(kCard).GetInt()) + "/" +
         std::to_string(file.Field(kTime).GetInt());
}

// Runs `body` in a child process; the parent gets its pid. The child ends
// with _exit(0) after `body`, or 1 when it throws.
inline pid_t Child(const std::function<void()>& body) {
  pid_t pid = ::fork();
  if (pid == 0) {
    try {
      body();
    } catch (...) {
      ::_exit(1);
    }
    ::_exit(0);
  }
  return pid;
}

// A pipe for one-byte signals between parent and child.
struct Signal {
  int fds[2] = {-1, -1};
  Signal() { EXPECT_EQ(::pipe(fds), 0); }
  ~Signal() {
    ::close(fds[0]);
    ::close(fds[1]);
  }
  void Send() { ASSERT_EQ(::write(fds[1], "x", 1), 1); }
  // False when nothing comes within a minute (the other side died).
  bool Wait() {
    pollfd p{fds[0], POLLIN, 0};
    if (::poll(&p, 1, 60000) != 1) return false;
    char c;
    return ::read(fds[0], &c, 1) == 1;
  }
};

inline int WaitExit(pid_t pid) {
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Raw SQL on a file, for setting up and inspecting what the driver wrote.
class RawDb {
 public:
  explicit RawDb(const std::string& path) { sqlite3_open(path.c_str(), &db_); }
  ~RawDb() { sqlite3_close(db_); }
  int Exec(const std::string& sql) {
    return sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr);
  }
  // The first column of every row, as text.
  std::vector<std::string> Column(const std::string& sql) {
    std::vector<std::string> out;
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) return {"<error>"};
    while (sqlite3_step(stmt) == SQLITE_ROW) {
      const unsigned char* text = sqlite3_column_text(stmt, 0);
      out.emplace_back(text ? reinterpret_cast<const char*>(text) : "<null>");
    }
    sqlite3_finalize(stmt);
    return out;
  }
  std::string One(const std::string& sql) {
    auto column = Column(sql);
    return column.empty() ? "<none>" : column.front();
  }
  sqlite3* Db() { return db_; }

 private:
  sqlite3* db_ = nullptr;
};

class KeyedFixture : public ::testing::Test {
 protected:
  // Whether the files live on the test server (the contract suite's Postgres
  // instances) rather than in SQLite files.
  virtual bool OnServer() const { return false; }

  void SetUp() override {
    ASSERT_FALSE(folder_.Path().empty());
    if (OnServer()) {
      if (std::string why = test_server::Missing(); !why.empty()) {
        if (test_server::Required()) FAIL() << why << " (required under CI)";
        GTEST_SKIP() << why;
      }
      schema_ = std::make_unique<test_server::Schema>();
      rt::postgres::SetServer(schema_->Connection());
    }
    dir_ = folder_.Path().string();
    path_ = dir_ + "/Punch.DAT";
    decl_ = PunchDeclaration(path_, "PUN", uniqueCardTime_);
    alias_ = PunchDeclaration(path_, "APUN", uniqueCardTime_);
    file_ = std::make_unique<rt::File>(*decl_);
    aliasFile_ = std::make_unique<rt::File>(*alias_);
  }
  void TearDown() override {
    aliasFile_.reset();
    file_.reset();
    if (schema_) rt::postgres::SetServer("");
    schema_.reset();
  }

  // Creates the file, opens it and adds `punches` in one transaction.
  void CreateWith(const std::vector<Punch>& punches) {
    rt::FileCreate(*file_);
    ASSERT_EQ(rt::ErrorCode(), 0) << rt::FileErrorText();
    rt::FileOpen(*file_);
    ASSERT_EQ(rt::ErrorCode(), 0) << rt::FileErrorText();
    rt::TxBegin(2, *file_);
    for (const auto& p : punches) {
      SetPunch(*file_, p);
      rt::FileAdd(*file_);
      ASSERT_EQ(rt::ErrorCode(), 0) << rt::FileErrorText();
    }
    rt::TxCommit();
    ASSERT_EQ(rt::ErrorCode(), 0) << rt::FileErrorText();
  }

  // Removes the punch file (closed) so that it can be made again.
  void Discard() {
    if (OnServer())
      RawExec("DROP TABLE IF EXISTS \"Punch\"");
    else
      std::filesystem::remove(path_);
  }

  // Plain SQL on a file (its path names it) as another tool would send it,
  // in SQL both stores read (quoted names, no store's own functions).
  std::string RawExec(const std::string& sql, const std::string& path = {}) {
    if (OnServer()) return test_server::Sql(schema_->Connection()).Exec(sql);
    return RawDb(path.empty() ? path_ : path).Exec(sql) == SQLITE_OK ? "" : "failed: " + sql;
  }
  std::vector<std::string> RawColumn(const std::string& sql, const std::string& path = {}) {
    if (OnServer()) return test_server::Sql(schema_->Connection()).Column(sql);
    return RawDb(path.empty() ? path_ : path).Column(sql);
  }
  std::string RawOne(const std::string& sql, const std::string& path = {}) {
    auto column = RawColumn(sql, path);
    return column.empty() ? "<none>" : column.front();
  }

  // Fills the table with `count` punches by raw SQL (fast for big files):
  // company 1..3, card i % 500, dates from 80000 on, time 1000000 + i.
  void Fill(int count) {
    ASSERT_EQ(RawExec("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i<" +
                      std::to_string(count) +
                      ") INSERT INTO \"Punch\" SELECT i%3+1, 80000+i/1000, i%500, 1000000+i, "
                      "'CLOCK', 8.25, 'J1', " +
                      std::string(OnServer() ? "'\\x000000'::bytea" : "x'000000'") + " FROM n"),
              "");
  }

  bool uniqueCardTime_ = true;  // set in a derived constructor to allow duplicates
  TempFolder folder_{"keyed-test"};
  std::unique_ptr<test_server::Schema> schema_;
  std::string dir_, path_;
  std::unique_ptr<rt::FileDeclaration> decl_, alias_;
  std::unique_ptr<rt::File> file_, aliasFile_;
};

// The stores the contract suite runs on; its instances are named after them.
enum class Store { Sqlite, Postgres };

template <class Base>
class OnEachStore : public Base, public ::testing::WithParamInterface<Store> {
 protected:
  bool OnServer() const override { return GetParam() == Store::Postgres; }
};

inline std::string StoreName(const ::testing::TestParamInfo<Store>& info) {
  return info.param == Store::Postgres ? "Postgres" : "Sqlite";
}

#define KEYED_ON_EACH_STORE(Suite)                                                     \
  INSTANTIATE_TEST_SUITE_P(, Suite, ::testing::Values(Store::Sqlite, Store::Postgres), \
                           StoreName)

}  // namespace keyed_test
