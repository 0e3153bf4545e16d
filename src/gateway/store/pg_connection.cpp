#include "gateway/store/pg_connection.h"

#include "gateway/store/gateway_store.h"
#include "platform/socket_io.h"

namespace {

// libpq's messages end in a line break and may span lines; the log takes one line.
std::string OneLine(const char* message) {
  std::string text = message == nullptr ? std::string() : std::string(message);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
    text.pop_back();
  }
  for (char& c : text) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return text.empty() ? std::string("no reason given") : text;
}

// The tables of every host's shared state (described in the README, "More than one web server").
constexpr const char kCreateTables[] =
    "BEGIN;"
    "SELECT pg_advisory_xact_lock(7152026);"
    "CREATE TABLE IF NOT EXISTS brevix_ref_numbers ("
    " name bytea PRIMARY KEY, count integer NOT NULL);"
    "CREATE TABLE IF NOT EXISTS brevix_results ("
    " id bigserial PRIMARY KEY, results_file text NOT NULL, ref_number integer,"
    " at timestamptz NOT NULL DEFAULT now(), client text NOT NULL, record bytea NOT NULL,"
    " fields jsonb NOT NULL);"
    "CREATE INDEX IF NOT EXISTS brevix_results_file_at ON brevix_results (results_file, at);"
    "CREATE TABLE IF NOT EXISTS brevix_pow_used (id text PRIMARY KEY, expires bigint NOT NULL);"
    "CREATE TABLE IF NOT EXISTS brevix_guard_events ("
    " kind text NOT NULL, key text NOT NULL, at bigint NOT NULL);"
    "CREATE INDEX IF NOT EXISTS brevix_guard_events_key ON brevix_guard_events (kind, key, at);"
    "CREATE INDEX IF NOT EXISTS brevix_guard_events_at ON brevix_guard_events (at);"
    "COMMIT;";

// One round trip when the tables are there already (every CGI run asks).
constexpr const char kTablesExist[] =
    "SELECT to_regclass('brevix_ref_numbers') IS NOT NULL"
    " AND to_regclass('brevix_results') IS NOT NULL"
    " AND to_regclass('brevix_guard_events') IS NOT NULL"
    " AND to_regclass('brevix_pow_used') IS NOT NULL";

thread_local std::unique_ptr<TPgConnection> thread_connection;

}  // namespace

TPgConnection::TPgConnection(const std::string& conninfo) : conninfo_(conninfo) {
  std::string error;
  pq_ = LoadLibPq(error);
  if (pq_ == nullptr) throw TStoreUnavailable(error);
  // The site's string is expanded first; the time-outs then apply whatever it says.
  const std::string timeout = std::to_string(kPgTimeoutSeconds);
  const std::string user_timeout = std::to_string(kPgTimeoutSeconds * 1000);
  const std::string options = "-c statement_timeout=" + user_timeout;
  const char* const keywords[] = {"dbname",           "connect_timeout", "tcp_user_timeout",
                                  "application_name", "options",         nullptr};
  const char* const values[] = {conninfo_.c_str(), timeout.c_str(), user_timeout.c_str(),
                                "brevix",          options.c_str(), nullptr};
  conn_ = pq_->PQconnectdbParams(keywords, values, 1);
  if (conn_ == nullptr) throw TStoreUnavailable("out of memory");
  if (pq_->PQstatus(conn_) != kPgConnectionOk) Fail(OneLine(pq_->PQerrorMessage(conn_)));
  CreateTables();
}

TPgConnection::~TPgConnection() {
  if (conn_ != nullptr) pq_->PQfinish(conn_);
}

void TPgConnection::Fail(const std::string& reason) {
  if (conn_ != nullptr) pq_->PQfinish(conn_);
  conn_ = nullptr;
  throw TStoreUnavailable(reason);
}

void TPgConnection::CreateTables() {
  if (Exec(kTablesExist)->Value(0, 0) == "t") return;
  Exec(kCreateTables);
}

std::unique_ptr<TPgResult> TPgConnection::Exec(const std::string& sql,
                                               const std::vector<TPgParam>& params) {
  if (conn_ == nullptr) throw TStoreUnavailable("the connection was lost");
  PGresult* result;
  if (params.empty()) {
    result = pq_->PQexec(conn_, sql.c_str());
  } else {
    std::vector<const char*> values;
    std::vector<int> lengths;
    std::vector<int> formats;
    for (const TPgParam& param : params) {
      values.push_back(param.null ? nullptr : param.value.c_str());
      lengths.push_back(static_cast<int>(param.value.size()));
      formats.push_back(param.binary ? 1 : 0);
    }
    result = pq_->PQexecParams(conn_, sql.c_str(), static_cast<int>(params.size()), nullptr,
                               values.data(), lengths.data(), formats.data(), 0);
  }
  if (result == nullptr) Fail(OneLine(pq_->PQerrorMessage(conn_)));
  auto owned = std::make_unique<TPgResult>(*pq_, result);
  const int status = pq_->PQresultStatus(result);
  if (status != kPgCommandOk && status != kPgTuplesOk) {
    const std::string reason = OneLine(pq_->PQresultErrorMessage(result));
    owned.reset();
    Fail(reason);
  }
  return owned;
}

bool TPgConnection::IdleAndOpen() const {
  if (conn_ == nullptr) return false;
  // Nothing may be waiting on an idle connection: bytes there are the server's farewell, and a
  // failed look means a broken socket.
  const int socket = pq_->PQsocket(conn_);
  return socket >= 0 && WaitForSocket(socket, TSocketWait::kReadable, 0) == TWaitResult::kTimedOut;
}

TPgConnection& ThreadPgConnection(const std::string& conninfo) {
  if (!thread_connection || thread_connection->ConnInfo() != conninfo ||
      !thread_connection->IdleAndOpen()) {
    thread_connection.reset();
    thread_connection = std::make_unique<TPgConnection>(conninfo);
  }
  return *thread_connection;
}
