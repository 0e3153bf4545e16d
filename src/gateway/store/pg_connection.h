#pragma once

#include <memory>
#include <string>
#include <vector>

#include "gateway/store/libpq_library.h"

// One connection to the site's PostgreSQL database, and the statements the store sends on it.
//
// Each thread keeps one connection (ThreadPgConnection): a FastCGI gateway or a resident server
// reuses it for every request the thread serves; a CGI run makes one per submission. Connecting
// and every statement are bounded by kPgTimeoutSeconds (connect_timeout, statement_timeout and,
// over TCP, tcp_user_timeout): a database that does not answer fails the request, it never holds
// it. Any failure throws TStoreUnavailable with libpq's reason and drops the connection, so the
// thread's next request connects afresh (a restarted server is found again).
//
// On its first use a connection makes sure the tables exist: CREATE TABLE IF NOT EXISTS under a
// transaction-scoped advisory lock, so hosts starting together never race on the catalogue.

inline constexpr int kPgTimeoutSeconds = 5;

// A statement's parameter: text (sent as text), or bytes (sent binary, for bytea), or NULL.
struct TPgParam {
  std::string value;
  bool binary = false;
  bool null = false;
};

// A statement's result; owns the PGresult.
class TPgResult {
 public:
  TPgResult(const TLibPq& pq, PGresult* result) : pq_(pq), result_(result) {}
  ~TPgResult() { pq_.PQclear(result_); }
  TPgResult(const TPgResult&) = delete;
  TPgResult& operator=(const TPgResult&) = delete;

  int Rows() const { return pq_.PQntuples(result_); }
  std::string Value(int row, int column) const { return pq_.PQgetvalue(result_, row, column); }
  bool IsNull(int row, int column) const { return pq_.PQgetisnull(result_, row, column) != 0; }

 private:
  const TLibPq& pq_;
  PGresult* result_;
};

class TPgConnection {
 public:
  // Connects with `conninfo` (a libpq connection string or URI) and prepares the tables.
  // Throws TStoreUnavailable.
  explicit TPgConnection(const std::string& conninfo);
  ~TPgConnection();
  TPgConnection(const TPgConnection&) = delete;
  TPgConnection& operator=(const TPgConnection&) = delete;

  const std::string& ConnInfo() const { return conninfo_; }
  bool Broken() const { return conn_ == nullptr; }
  // False when the server has closed or is closing this idle connection (a restart, an
  // administrator's termination): it then has something to read while no statement runs.
  bool IdleAndOpen() const;

  // Runs one statement; throws TStoreUnavailable (and closes the connection) when it fails.
  std::unique_ptr<TPgResult> Exec(const std::string& sql, const std::vector<TPgParam>& params = {});

 private:
  [[noreturn]] void Fail(const std::string& reason);
  void CreateTables();

  const TLibPq* pq_ = nullptr;
  std::string conninfo_;
  PGconn* conn_ = nullptr;
};

// The calling thread's connection for `conninfo`, connected now when it has none, when its last
// statement failed, when the server closed it meanwhile, or when the setting changed. Called once
// per request, before its first statement: a request never changes connections halfway, which
// would lose its transaction. Throws TStoreUnavailable.
TPgConnection& ThreadPgConnection(const std::string& conninfo);
