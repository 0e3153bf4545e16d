#include "gateway/guard_state.h"

#include <algorithm>
#include <cctype>

#include "common/file_replace.h"
#include "common/text_compare.h"
#include "gateway/locked_state_file.h"

namespace {

// Times have at most this many digits: enough for any date, too few to overflow.
constexpr size_t kMaxTimeDigits = 12;

bool KnownKind(std::string_view kind) {
  return kind == "submit" || kind == "receipt-to" || kind == "receipt-client";
}

bool InWindow(std::int64_t time, std::int64_t now) {
  return time > now - TGuardTable::kWindowSeconds && time <= now + TGuardTable::kWindowSeconds;
}

bool ParseTime(std::string_view text, std::int64_t& time) {
  if (text.empty() || text.size() > kMaxTimeDigits) return false;
  time = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    time = time * 10 + (c - '0');
  }
  return true;
}

// A key as the file holds it: printable, without blanks, "%" only in front of two hex digits.
bool WellFormedKey(std::string_view key) {
  // A lone "%" is the encoding of the empty key.
  if (key == "%" || key == TGuardTable::kOverflowKey) return true;
  if (key.empty() || key.size() > TGuardTable::kMaxKeyBytes * 3) return false;
  for (size_t i = 0; i < key.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(key[i]);
    if (c <= ' ' || c >= 0x7f) return false;
    if (c == '%' &&
        (i + 2 >= key.size() || !std::isxdigit(static_cast<unsigned char>(key[i + 1])) ||
         !std::isxdigit(static_cast<unsigned char>(key[i + 2])))) {
      return false;
    }
  }
  return true;
}

long long StoredLimit(long long limit) {
  return std::clamp(limit, 1LL, TGuardTable::kMaxTimesPerKey);
}

}  // namespace

std::string TGuardTable::EncodeKey(std::string_view raw) {
  static const char* hex = "0123456789ABCDEF";
  if (raw.size() > kMaxKeyBytes) raw = raw.substr(0, kMaxKeyBytes);
  if (raw.empty()) return "%";
  std::string out;
  for (char ch : raw) {
    const unsigned char c = static_cast<unsigned char>(AsciiLower(ch));
    if (c <= ' ' || c >= 0x7f || c == '%') {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

void TGuardTable::Parse(std::string_view text, std::int64_t now) {
  lines_.clear();
  index_.clear();
  own_keys_.clear();
  if (text.size() > kMaxFileBytes) text = text.substr(0, kMaxFileBytes);
  while (!text.empty()) {
    size_t end = text.find('\n');
    if (end == std::string_view::npos) end = text.size();
    std::string_view row = text.substr(0, end);
    text.remove_prefix(std::min(end + 1, text.size()));
    if (!row.empty() && row.back() == '\r') row.remove_suffix(1);

    std::vector<std::string_view> fields;
    while (!row.empty()) {
      const size_t blank = row.find(' ');
      const std::string_view field = row.substr(0, blank);
      if (!field.empty()) fields.push_back(field);
      if (blank == std::string_view::npos) break;
      row.remove_prefix(blank + 1);
    }
    if (fields.size() < 3 || !KnownKind(fields[0]) || !WellFormedKey(fields[1])) continue;
    std::vector<std::int64_t> times;
    bool good = true;
    for (size_t i = 2; i < fields.size() && good; ++i) {
      std::int64_t time = 0;
      good = ParseTime(fields[i], time);
      if (good && InWindow(time, now)) times.push_back(time);
    }
    if (!good || times.empty()) continue;
    // A repeated key is merged; a key beyond its kind's room (a file written by hand or by
    // an older version) counts on the overflow line rather than being forgotten.
    Line* line = Target(std::string(fields[0]), std::string(fields[1]), true);
    line->times.insert(line->times.end(), times.begin(), times.end());
  }
  for (Line& line : lines_) {
    std::sort(line.times.begin(), line.times.end());
    if (static_cast<long long>(line.times.size()) > kMaxTimesPerKey) {
      line.times.erase(line.times.begin(), line.times.end() - kMaxTimesPerKey);
    }
  }
}

long long TGuardTable::Count(const TGuardKey& key) const {
  const Line* line =
      const_cast<TGuardTable*>(this)->Target(GuardKindName(key.kind), EncodeKey(key.key), false);
  return line == nullptr ? 0 : static_cast<long long>(line->times.size());
}

void TGuardTable::Add(const TGuardKey& key, std::int64_t now) {
  Line* line = Target(GuardKindName(key.kind), EncodeKey(key.key), true);
  line->times.push_back(now);
  std::sort(line->times.begin(), line->times.end());
  const long long keep = StoredLimit(key.limit);
  if (static_cast<long long>(line->times.size()) > keep) {
    line->times.erase(line->times.begin(), line->times.end() - keep);
  }
}

std::string TGuardTable::Text() const {
  std::string text;
  for (const Line& line : lines_) {
    text += line.kind;
    text += ' ';
    text += line.key;
    for (std::int64_t time : line.times) {
      text += ' ';
      text += std::to_string(time);
    }
    text += "\r\n";
  }
  return text;
}

TGuardTable::Line* TGuardTable::Find(const std::string& kind, const std::string& key) {
  const auto found = index_.find(kind + ' ' + key);
  return found == index_.end() ? nullptr : &lines_[found->second];
}

const TGuardTable::Line* TGuardTable::Find(const std::string& kind, const std::string& key) const {
  return const_cast<TGuardTable*>(this)->Find(kind, key);
}

TGuardTable::Line* TGuardTable::Target(const std::string& kind, const std::string& key,
                                       bool create) {
  if (Line* own = Find(kind, key)) return own;
  const auto own_keys = own_keys_.find(kind);
  const bool room =
      key == kOverflowKey || own_keys == own_keys_.end() || own_keys->second < kMaxKeysPerKind;
  const std::string& target = room ? key : std::string(kOverflowKey);
  if (Line* overflow = room ? nullptr : Find(kind, target)) return overflow;
  return create ? &Append(kind, target) : nullptr;
}

TGuardTable::Line& TGuardTable::Append(const std::string& kind, const std::string& key) {
  index_.emplace(kind + ' ' + key, lines_.size());
  if (key != kOverflowKey) ++own_keys_[kind];
  lines_.push_back(Line{kind, key, {}});
  return lines_.back();
}

TGuardResult RecordGuardEvents(const std::string& file_name, const std::vector<TGuardKey>& keys,
                               std::int64_t now, size_t* full_key) {
  try {
    LockedStateFile file(file_name);
    std::string text;
    if (!file.Ok() || !file.Read(text, TGuardTable::kMaxFileBytes))
      return TGuardResult::kUnavailable;
    TGuardTable table;
    table.Parse(text, now);
    for (size_t i = 0; i < keys.size(); ++i) {
      if (table.Count(keys[i]) >= StoredLimit(keys[i].limit)) {
        if (full_key != nullptr) *full_key = i;
        return TGuardResult::kFull;
      }
    }
    for (const TGuardKey& key : keys) table.Add(key, now);
    // Replaced while the lock on the current file is held: the next process finds the name on
    // a new file, notices, and locks that one.
    return ReplaceFileContents(file_name, table.Text()) ? TGuardResult::kRecorded
                                                        : TGuardResult::kUnavailable;
  } catch (...) {
    return TGuardResult::kUnavailable;
  }
}

const char* GuardKindName(TGuardKind kind) {
  switch (kind) {
    case TGuardKind::kSubmit:
      return "submit";
    case TGuardKind::kReceiptTo:
      return "receipt-to";
    case TGuardKind::kReceiptClient:
      return "receipt-client";
  }
  return "submit";
}
