#pragma once

#include <string>

// libpq, the PostgreSQL client library, loaded the first time a request needs the database.
//
// Only sites that set Database use it, and the gateway starts once for every submission: linking
// libpq (and through it Kerberos, LDAP and OpenSSL) would make every plain start pay for loading
// them. So the program neither links libpq nor needs its headers to build: the few functions
// below are declared here as libpq 5 defines them (a stable interface since PostgreSQL 8.0), and
// bound from Debian's libpq.so.5 on first use.
extern "C" {
struct pg_conn;
struct pg_result;
}
using PGconn = pg_conn;
using PGresult = pg_result;
using Oid = unsigned int;

// ConnStatusType CONNECTION_OK, ExecStatusType PGRES_COMMAND_OK and PGRES_TUPLES_OK.
inline constexpr int kPgConnectionOk = 0;
inline constexpr int kPgCommandOk = 1;
inline constexpr int kPgTuplesOk = 2;

struct TLibPq {
  PGconn* (*PQconnectdbParams)(const char* const* keywords, const char* const* values,
                               int expand_dbname) = nullptr;
  int (*PQstatus)(const PGconn* conn) = nullptr;
  char* (*PQerrorMessage)(const PGconn* conn) = nullptr;
  void (*PQfinish)(PGconn* conn) = nullptr;
  int (*PQsocket)(const PGconn* conn) = nullptr;
  PGresult* (*PQexec)(PGconn* conn, const char* query) = nullptr;
  PGresult* (*PQexecParams)(PGconn* conn, const char* command, int n_params, const Oid* param_types,
                            const char* const* param_values, const int* param_lengths,
                            const int* param_formats, int result_format) = nullptr;
  int (*PQresultStatus)(const PGresult* res) = nullptr;
  char* (*PQresultErrorMessage)(const PGresult* res) = nullptr;
  int (*PQntuples)(const PGresult* res) = nullptr;
  char* (*PQgetvalue)(const PGresult* res, int row, int column) = nullptr;
  int (*PQgetisnull)(const PGresult* res, int row, int column) = nullptr;
  void (*PQclear)(PGresult* res) = nullptr;
};

// The library's functions, loaded on the first call (thread-safe; never unloaded). Null when
// libpq.so.5 cannot be loaded or lacks one of them; `error` then says which.
const TLibPq* LoadLibPq(std::string& error);
