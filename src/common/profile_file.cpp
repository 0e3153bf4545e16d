#include "common/profile_file.h"

#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

#include "common/exception.h"
#include "common/file_replace.h"
#include "common/file_tool.h"
#include "common/file_version.h"
#include "common/text_compare.h"

namespace {

bool IsCommentOrEmpty(std::string_view trimmed) {
  return trimmed.empty() || trimmed.front() == ';' || trimmed.front() == '#';
}

// The name of a "[Section]" line, or nothing when the line is of another kind.
std::optional<std::string_view> SectionName(std::string_view line) {
  const std::string_view trimmed = TrimmedView(line);
  if (trimmed.empty() || trimmed.front() != '[') return std::nullopt;
  const size_t close = trimmed.find(']');
  const size_t end = close == std::string_view::npos ? trimmed.size() : close;
  return TrimmedView(trimmed.substr(1, end - 1));
}

// The key of a "Name=Value" line, or nothing for a comment, a section or a line without "=".
std::optional<std::string_view> KeyName(std::string_view line) {
  const std::string_view trimmed = TrimmedView(line);
  if (IsCommentOrEmpty(trimmed) || trimmed.front() == '[') return std::nullopt;
  const size_t eq = line.find('=');
  if (eq == std::string_view::npos) return std::nullopt;
  return TrimmedView(line.substr(0, eq));
}

std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' && text[i] != '\n') continue;
    lines.emplace_back(text.substr(start, i - start));
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < text.size()) lines.emplace_back(text.substr(start));
  return lines;
}

[[noreturn]] void ThrowUnableToWrite(const std::string& file_name) {
  throw Exception("Unable to write to " + file_name);
}

void CheckKey(std::string_view key) {
  const bool bad = key.empty() || key.find_first_of("=\r\n") != std::string_view::npos ||
                   Trim(key) != key || key.front() == '[' || key.front() == ';' ||
                   key.front() == '#';
  if (bad) throw Exception("Invalid profile key \"" + std::string(key) + "\"");
}

void CheckSection(std::string_view section) {
  const bool bad =
      Trim(section).empty() || section.find_first_of("]\r\n") != std::string_view::npos;
  if (bad) throw Exception("Invalid profile section \"" + std::string(section) + "\"");
}

}  // namespace

namespace {

// The last lasting version of each settings file this process read: a request reads the same
// brevix.ini for several groups of settings, and a resident process for every request, so the
// file is read again only when its stamp changed.
struct CachedLines {
  FileStamp stamp;
  std::vector<std::string> lines;
};
std::mutex cache_mutex;
std::map<std::string, std::shared_ptr<const CachedLines>, std::less<>> cache;

std::shared_ptr<const CachedLines> CachedVersion(const std::string& file_name) {
  const FileStamp now = StampOf(file_name);
  std::lock_guard lock(cache_mutex);
  const auto found = cache.find(file_name);
  if (found == cache.end() || !now.exists || !(found->second->stamp == now)) return nullptr;
  return found->second;
}

}  // namespace

TProfileFile::TProfileFile(std::string file_name) : file_name_(std::move(file_name)) {
  if (const auto cached = CachedVersion(file_name_)) {
    lines_ = cached->lines;
  } else {
    const FileVersion version = ReadFileVersion(file_name_);
    // A file that exists but cannot be read is never written over (see UpdateFile).
    unreadable_ = version.unreadable;
    if (unreadable_) unreadable_reason_ = std::strerror(version.read_error);
    if (!unreadable_) lines_ = SplitLines(version.text);
    if (version.lasting) {
      auto kept = std::make_shared<const CachedLines>(CachedLines{version.stamp, lines_});
      std::lock_guard lock(cache_mutex);
      cache[file_name_] = std::move(kept);
    }
  }
  Index();
}

TProfileFile TProfileFile::FromText(std::string file_name, std::string_view text) {
  TProfileFile file(std::move(file_name), NoRead{});
  file.lines_ = SplitLines(text);
  file.Index();
  return file;
}

void TProfileFile::Index() {
  names_.assign(lines_.size(), LineName{});
  for (size_t i = 0; i < lines_.size(); ++i) {
    const std::string_view line = lines_[i];
    LineName& entry = names_[i];
    std::optional<std::string_view> name = SectionName(line);
    if (name) {
      entry.kind = LineKind::kSection;
    } else if ((name = KeyName(line))) {
      entry.kind = LineKind::kKey;
    } else {
      continue;
    }
    entry.offset = static_cast<size_t>(name->data() - line.data());
    entry.length = name->size();
  }
}

std::string_view TProfileFile::NameOf(size_t line) const {
  return std::string_view(lines_[line]).substr(names_[line].offset, names_[line].length);
}

long TProfileFile::FindSection(std::string_view section) const {
  const std::string_view wanted = TrimmedView(section);
  for (size_t i = 0; i < names_.size(); ++i) {
    if (names_[i].kind == LineKind::kSection && SameText(NameOf(i), wanted)) {
      return static_cast<long>(i);
    }
  }
  return -1;
}

long TProfileFile::FindKey(long header, std::string_view key) const {
  const std::string_view wanted = TrimmedView(key);
  for (size_t i = static_cast<size_t>(header) + 1; i < names_.size(); ++i) {
    if (names_[i].kind == LineKind::kSection) break;
    if (names_[i].kind == LineKind::kKey && SameText(NameOf(i), wanted)) {
      return static_cast<long>(i);
    }
  }
  return -1;
}

bool TProfileFile::ValueExists(std::string_view section, std::string_view key) const {
  const long header = FindSection(section);
  return header >= 0 && FindKey(header, key) >= 0;
}

std::string TProfileFile::ReadString(std::string_view section, std::string_view key,
                                     std::string_view default_value) const {
  const long header = FindSection(section);
  const long at = header < 0 ? -1 : FindKey(header, key);
  if (at < 0) return std::string(default_value);
  const std::string& line = lines_[static_cast<size_t>(at)];
  std::string value = Trim(std::string_view(line).substr(line.find('=') + 1));
  if (value.size() > kMaxProfileValue) value.resize(kMaxProfileValue);
  return value;
}

void TProfileFile::WriteString(std::string_view section, std::string_view key,
                               std::string_view value) {
  CheckSection(section);
  CheckKey(key);
  std::string line(key);
  line += '=';
  line += OneLine(std::string(value));

  const long header = FindSection(section);
  if (header < 0) {
    if (!lines_.empty() && !Trim(lines_.back()).empty()) lines_.emplace_back();
    // Appended piece by piece: "[" + std::string(...) trips GCC 12's -Wrestrict at -O3.
    std::string header_line;
    header_line.reserve(section.size() + 2);
    header_line += '[';
    header_line += section;
    header_line += ']';
    lines_.push_back(std::move(header_line));
    lines_.push_back(std::move(line));
    Index();
    return;
  }
  const long at = FindKey(header, key);
  if (at >= 0) {
    lines_[static_cast<size_t>(at)] = std::move(line);
    Index();
    return;
  }
  // A new key goes after the last key line of its section, so that blank lines and comments
  // that lead into the next section stay in front of it.
  size_t insert_at = static_cast<size_t>(header) + 1;
  for (size_t i = insert_at; i < names_.size() && names_[i].kind != LineKind::kSection; ++i) {
    if (names_[i].kind == LineKind::kKey) insert_at = i + 1;
  }
  lines_.insert(lines_.begin() + static_cast<long>(insert_at), std::move(line));
  Index();
}

void TProfileFile::UpdateFile() const {
  if (unreadable_) ThrowUnableToWrite(file_name_);
  std::string text;
  for (const std::string& line : lines_) {
    text += line;
    text += "\r\n";
  }

  if (!ReplaceFileContents(file_name_, text)) ThrowUnableToWrite(file_name_);
}

std::string ReadProfileString(const std::string& file_name, std::string_view section,
                              std::string_view key, std::string_view default_value) {
  return TProfileFile(file_name).ReadString(section, key, default_value);
}

void WriteProfileString(const std::string& file_name, std::string_view section,
                        std::string_view key, std::string_view value) {
  TProfileFile file(file_name);
  file.WriteString(section, key, value);
  file.UpdateFile();
}
