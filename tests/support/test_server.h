// The throwaway PostgreSQL server scripts/test starts (scripts/pg-test-server)
// as the tests see it: its connection in VELTRANE_TEST_DATABASE, a fresh
// schema per test so tests never see each other's tables, and plain SQL on
// it as any other tool would send.
#pragma once

#include <libpq-fe.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace test_server {

// The test server's connection string; empty when none was given.
inline std::string Connection() {
  const char* conn = std::getenv("VELTRANE_TEST_DATABASE");
  return conn ? conn : "";
}

// Why a test that needs the server cannot run here, in one line; empty when it
// can. Under CI (CI=true) the server is required: the caller fails instead of
// skipping.
inline std::string Missing() {
  if (!Connection().empty()) return {};
  return "no PostgreSQL test server: VELTRANE_TEST_DATABASE is not set (scripts/test starts one)";
}
inline bool Required() {
  const char* ci = std::getenv("CI");
  return ci && std::string(ci) == "true";
}

// Plain SQL over its own connection.
class Sql {
 public:
  explicit Sql(const std::string& connection) : conn_(PQconnectdb(connection.c_str())) {}
  Sql(const Sql&) = delete;
  Sql& operator=(const Sql&) = delete;
  ~Sql() { PQfinish(conn_); }

  bool Connected() const { return PQstatus(conn_) == CONNECTION_OK; }
  // Runs statements; the error text, empty on success.
  std::string Exec(const std::string& sql) {
    PGresult* result = PQexec(conn_, sql.c_str());
    auto status = PQresultStatus(result);
    std::string error = status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK
                            ? ""
                            : std::string(PQresultErrorMessage(result));
    PQclear(result);
    return error;
  }
  // The first column of every row, as text ("<error: ...>" when it fails).
  std::vector<std::string> Column(const std::string& sql) {
    PGresult* result = PQexec(conn_, sql.c_str());
    std::vector<std::string> values;
    if (PQresultStatus(result) != PGRES_TUPLES_OK) {
      values.push_back("<error: " + std::string(PQresultErrorMessage(result)) + ">");
    } else {
      for (int r = 0; r < PQntuples(result); ++r)
        values.emplace_back(PQgetisnull(result, r, 0) ? "<null>" : PQgetvalue(result, r, 0));
    }
    PQclear(result);
    return values;
  }
  std::string One(const std::string& sql) {
    auto values = Column(sql);
    return values.empty() ? "<none>" : values.front();
  }

 private:
  PGconn* conn_;
};

// A fresh schema on the test server, dropped with everything in it when the
// object goes. Connection() reaches it as the connection's schema.
class Schema {
 public:
  explicit Schema(std::string server = test_server::Connection()) : server_(std::move(server)) {
    static std::atomic<int> counter{0};
    name_ = "t" + std::to_string(::getpid()) + "_" + std::to_string(counter++);
    Sql(server_).Exec("DROP SCHEMA IF EXISTS " + name_ + " CASCADE; CREATE SCHEMA " + name_);
  }
  Schema(const Schema&) = delete;
  Schema& operator=(const Schema&) = delete;
  ~Schema() { Sql(server_).Exec("DROP SCHEMA IF EXISTS " + name_ + " CASCADE"); }

  const std::string& Name() const { return name_; }
  // The server's connection with this schema first in its search path.
  std::string Connection() const {
    return server_ + " options='-c search_path=" + name_ + "'";
  }

 private:
  std::string server_;
  std::string name_;
};

// A throwaway server of the test's own (scripts/pg-test-server), for faults
// that would disturb other tests: stopping it as a power cut would.
class OwnServer {
 public:
  explicit OwnServer(std::string script) : script_(std::move(script)) {
    FILE* out = ::popen((script_ + " start").c_str(), "r");
    char line[512] = {};
    if (out && std::fgets(line, sizeof line, out)) connection_ = line;
    if (out && ::pclose(out) != 0) connection_.clear();
    while (!connection_.empty() && connection_.back() == '\n') connection_.pop_back();
  }
  OwnServer(const OwnServer&) = delete;
  OwnServer& operator=(const OwnServer&) = delete;
  ~OwnServer() {
    if (!connection_.empty()) Run("stop");
  }
  // Empty when the server could not be started.
  const std::string& Connection() const { return connection_; }
  bool Crash() { return Run("crash"); }
  bool Restart() { return Run("restart"); }

 private:
  bool Run(const std::string& command) {
    return std::system((script_ + " " + command + " \"" + connection_ + "\"").c_str()) == 0;
  }
  std::string script_;
  std::string connection_;
};

}  // namespace test_server
