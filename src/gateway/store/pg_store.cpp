#include "gateway/store/pg_store.h"

#include <algorithm>

#include "common/random_draw.h"
#include "common/text_compare.h"
#include "gateway/json_answer.h"
#include "gateway/store/pg_connection.h"

namespace {

constexpr const char kDraw[] =
    "WITH drawn AS ("
    " INSERT INTO brevix_ref_numbers AS r (name, count) VALUES ($1, 1)"
    " ON CONFLICT (name) DO UPDATE"
    " SET count = CASE WHEN r.count >= 2147483647 THEN 1 ELSE r.count + 1 END"
    " RETURNING name, count, (xmax = 0) AS fresh)"
    " SELECT encode(name, 'hex'), count, fresh, true FROM drawn"
    " UNION ALL SELECT encode(name, 'hex'), count, false, false FROM brevix_ref_numbers"
    " WHERE name <> $1";

constexpr const char kReadAll[] = "SELECT encode(name, 'hex'), count FROM brevix_ref_numbers";

// Rows older than an hour of every key are deleted on about one count in this many.
constexpr int kPruneEvery = 64;

std::string FromHex(const std::string& hex) {
  auto digit = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    out += static_cast<char>(digit(hex[i]) * 16 + digit(hex[i + 1]));
  }
  return out;
}

std::string FieldsJson(const std::vector<std::pair<std::string, std::string>>& fields) {
  std::string json = "{";
  for (const auto& [name, value] : fields) {
    if (json.size() > 1) json += ',';
    json += JsonString(name) + ":" + JsonString(value);
  }
  return json + "}";
}

class PgAppender : public TResultsAppender {
 public:
  PgAppender(TPgStore& store, std::string name) : store_(store), name_(std::move(name)) {
    store_.BeginStep();
  }
  ~PgAppender() override {
    if (!done_) store_.AbandonStep();
  }
  PgAppender(const PgAppender&) = delete;
  PgAppender& operator=(const PgAppender&) = delete;

  TAppendResult Append(const TResultsRecord& record) override {
    TPgParam number;
    number.value = record.ref_number;
    number.null = record.ref_number.empty();
    std::string text = record.text;
    if (!record.heading.empty()) {
      // Under a lock per results name until the step ends: of two first records only one has
      // the heading.
      TPgConnection& connection = store_.Connection();
      connection.Exec("SELECT pg_advisory_xact_lock(hashtext('brevix_results:' || $1))", {{name_}});
      const auto rows = connection.Exec(
          "SELECT 1 FROM brevix_results WHERE results_file = $1 LIMIT 1", {{name_}});
      if (rows->Rows() == 0) text = record.heading + text;
    }
    store_.Connection().Exec(
        "INSERT INTO brevix_results (results_file, ref_number, client, record, fields)"
        " VALUES ($1, $2, $3, $4, $5)",
        {{name_}, number, {record.client}, {text, true}, {FieldsJson(record.fields)}});
    store_.CommitStep();
    done_ = true;
    return TAppendResult::kWritten;
  }

 private:
  TPgStore& store_;
  std::string name_;
  bool done_ = false;
};

}  // namespace

TPgStore::TPgStore(std::string conninfo) : conninfo_(std::move(conninfo)) {}

TPgStore::~TPgStore() {
  if (in_step_) AbandonStep();
}

TPgConnection& TPgStore::Connection() {
  if (connection_ == nullptr) connection_ = &ThreadPgConnection(conninfo_);
  return *connection_;
}

void TPgStore::Open() {
  Connection();
}

void TPgStore::BeginStep() {
  Connection().Exec("BEGIN");
  in_step_ = true;
  draw_in_step_ = false;
}

void TPgStore::CommitStep() {
  in_step_ = false;
  try {
    Connection().Exec("COMMIT");
  } catch (...) {
    draw_lost_ = draw_lost_ || draw_in_step_;
    throw;
  }
  draw_in_step_ = false;
}

void TPgStore::AbandonStep() noexcept {
  in_step_ = false;
  draw_lost_ = draw_lost_ || draw_in_step_;
  draw_in_step_ = false;
  try {
    Connection().Exec("ROLLBACK");
  } catch (...) {
    // A lost connection took the transaction with it.
  }
}

void TPgStore::DrawNumber(std::string_view key, TNumberDraw& draw) {
  const std::string name = LowerCase(std::string(key));
  const auto result = Connection().Exec(kDraw, {{name, true}});
  for (int row = 0; row < result->Rows(); ++row) {
    const std::string row_name = FromHex(result->Value(row, 0));
    const std::string count = result->Value(row, 1);
    draw.table.SetValue(row_name, count);
    if (result->Value(row, 3) == "t") {
      const long long drawn = std::stoll(count);
      const bool fresh = result->Value(row, 2) == "t";
      draw.previous = fresh ? std::string() : std::to_string(drawn == 1 ? 2147483647 : drawn - 1);
    }
  }
  draw.stored = true;
  if (in_step_) draw_in_step_ = true;
}

void TPgStore::ReadNumbers(TStringList& table) {
  const auto result = Connection().Exec(kReadAll);
  for (int row = 0; row < result->Rows(); ++row) {
    table.SetValue(FromHex(result->Value(row, 0)), result->Value(row, 1));
  }
}

void TPgStore::GiveBackNumber(const std::string& key, const std::string& drawn,
                              const std::string& previous) {
  if (draw_lost_ || in_step_) return;
  const std::string name = LowerCase(key);
  if (previous.empty()) {
    Connection().Exec("DELETE FROM brevix_ref_numbers WHERE name = $1 AND count = $2",
                      {{name, true}, {drawn}});
  } else {
    Connection().Exec("UPDATE brevix_ref_numbers SET count = $3 WHERE name = $1 AND count = $2",
                      {{name, true}, {drawn}, {previous}});
  }
}

TGuardResult TPgStore::RecordEvents(const std::vector<TGuardKey>& keys, std::int64_t /*now*/,
                                    size_t* full_key) {
  TPgConnection& connection = Connection();
  // Locks are taken in one order by everyone, so two requests never wait on each other.
  std::vector<std::string> ordered;
  for (const TGuardKey& key : keys) {
    ordered.push_back(std::string(GuardKindName(key.kind)) + " " + TGuardTable::EncodeKey(key.key));
  }
  std::sort(ordered.begin(), ordered.end());
  // A failed statement closes the connection, and its transaction goes with it.
  connection.Exec("BEGIN");
  for (const std::string& lock : ordered) {
    connection.Exec("SELECT pg_advisory_xact_lock(hashtext($1))", {{lock}});
  }
  for (size_t i = 0; i < keys.size(); ++i) {
    const std::string kind = GuardKindName(keys[i].kind);
    const std::string key = TGuardTable::EncodeKey(keys[i].key);
    connection.Exec(
        "DELETE FROM brevix_guard_events WHERE kind = $1 AND key = $2"
        " AND at <= extract(epoch FROM now())::bigint - 3600",
        {{kind}, {key}});
    const long long limit = std::min(keys[i].limit, TGuardTable::kMaxTimesPerKey);
    const auto count = connection.Exec(
        "SELECT count(*) FROM brevix_guard_events WHERE kind = $1 AND key = $2", {{kind}, {key}});
    if (std::stoll(count->Value(0, 0)) >= limit) {
      if (full_key != nullptr) *full_key = i;
      connection.Exec("ROLLBACK");
      return TGuardResult::kFull;
    }
  }
  for (const TGuardKey& key : keys) {
    connection.Exec(
        "INSERT INTO brevix_guard_events (kind, key, at)"
        " VALUES ($1, $2, extract(epoch FROM now())::bigint)",
        {{GuardKindName(key.kind)}, {TGuardTable::EncodeKey(key.key)}});
  }
  connection.Exec("COMMIT");
  if (RandomBetween(1, kPruneEvery) == 1) {
    connection.Exec(
        "DELETE FROM brevix_guard_events WHERE at <= extract(epoch FROM now())::bigint - 3600");
  }
  return TGuardResult::kRecorded;
}

std::unique_ptr<TResultsAppender> TPgStore::OpenResults(const std::string& name,
                                                        const std::string& /*path*/) {
  return std::make_unique<PgAppender>(*this, name);
}

TUseResult TPgStore::MarkUsed(std::string_view id, std::int64_t expires, std::int64_t now) {
  TPgConnection& connection = Connection();
  const std::string when = std::to_string(now);
  const auto taken = connection.Exec(
      "INSERT INTO brevix_pow_used AS u (id, expires) VALUES ($1, $2)"
      " ON CONFLICT (id) DO UPDATE SET expires = EXCLUDED.expires WHERE u.expires < $3"
      " RETURNING 1",
      {{std::string(id)}, {std::to_string(expires)}, {when}});
  if (RandomBetween(1, kPruneEvery) == 1) {
    connection.Exec("DELETE FROM brevix_pow_used WHERE expires < $1", {{when}});
  }
  return taken->Rows() == 1 ? TUseResult::kFirstUse : TUseResult::kReused;
}
