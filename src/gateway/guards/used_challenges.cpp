#include "gateway/guards/used_challenges.h"

#include <algorithm>

#include "common/file_replace.h"
#include "gateway/locked_state_file.h"

namespace {

constexpr size_t kMaxIdBytes = 64;
// A full table of the longest ids is about 320 KB; anything past this is not the gateway's.
constexpr size_t kMaxFileBytes = kMaxUsedChallenges * (kMaxIdBytes + 20);

bool WellFormedId(std::string_view id) {
  if (id.empty() || id.size() > kMaxIdBytes) return false;
  for (char c : id) {
    if (c <= ' ' || c >= 0x7f) return false;
  }
  return true;
}

}  // namespace

size_t TUsedChallengeTable::Parse(std::string_view text, std::int64_t now) {
  entries_.clear();
  ids_.clear();
  size_t lines = 0;
  while (!text.empty()) {
    ++lines;
    size_t end = text.find('\n');
    if (end == std::string_view::npos) end = text.size();
    std::string_view row = text.substr(0, end);
    text.remove_prefix(std::min(end + 1, text.size()));
    if (!row.empty() && row.back() == '\r') row.remove_suffix(1);
    const size_t blank = row.find(' ');
    if (blank == std::string_view::npos) continue;
    const std::string_view id = row.substr(0, blank);
    const std::string_view time = row.substr(blank + 1);
    if (!WellFormedId(id) || time.empty() || time.size() > 12) continue;
    std::int64_t expires = 0;
    bool digits = true;
    for (char c : time) {
      digits = digits && c >= '0' && c <= '9';
      expires = expires * 10 + (c - '0');
    }
    if (!digits || expires < now || Contains(id)) continue;
    Add(id, expires);
  }
  return lines;
}

bool TUsedChallengeTable::Contains(std::string_view id) const {
  return ids_.count(std::string(id)) != 0;
}

void TUsedChallengeTable::Add(std::string_view id, std::int64_t expires) {
  if (entries_.size() >= kMaxUsedChallenges) {
    const auto first =
        std::min_element(entries_.begin(), entries_.end(),
                         [](const Entry& a, const Entry& b) { return a.expires < b.expires; });
    ids_.erase(first->id);
    entries_.erase(first);
  }
  entries_.push_back(Entry{std::string(id), expires});
  ids_.insert(entries_.back().id);
}

std::string TUsedChallengeTable::Text() const {
  std::string text;
  for (const Entry& entry : entries_) {
    text += entry.id;
    text += ' ';
    text += std::to_string(entry.expires);
    text += "\r\n";
  }
  return text;
}

TUseResult TUsedChallengeFile::MarkUsed(std::string_view id, std::int64_t expires,
                                        std::int64_t now) {
  if (!WellFormedId(id)) return TUseResult::kUnavailable;
  try {
    LockedStateFile file(file_name_);
    std::string text;
    if (!file.Ok() || !file.Read(text, kMaxFileBytes)) return TUseResult::kUnavailable;
    TUsedChallengeTable table;
    const size_t lines = table.Parse(text, now);
    if (table.Contains(id)) return TUseResult::kReused;
    if (lines + 1 < kMaxUsedChallenges) {
      // A line cut short by a crash is ended first, so the new one reads whole.
      std::string line = !text.empty() && text.back() != '\n' ? "\r\n" : "";
      line += std::string(id) + ' ' + std::to_string(expires) + "\r\n";
      return file.Append(line) ? TUseResult::kFirstUse : TUseResult::kUnavailable;
    }
    table.Add(id, expires);
    // Replaced while the lock on the current file is held: the next process finds the name on
    // a new file, notices, and locks that one.
    return ReplaceFileContents(file_name_, table.Text()) ? TUseResult::kFirstUse
                                                         : TUseResult::kUnavailable;
  } catch (...) {
    return TUseResult::kUnavailable;
  }
}
