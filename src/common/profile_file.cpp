#include "common/profile_file.h"

#include <algorithm>
#include <cstdint>
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

// The name a line gives, once its ends are trimmed (`trimmed`): a "[Section]" line gives its
// section, a "Name=Value" line its key; comments, blank lines and lines without "=" give none.
struct LineName {
  bool section = false;
  std::optional<std::string_view> name;
};
LineName NameOfLine(std::string_view line, std::string_view trimmed) {
  if (IsCommentOrEmpty(trimmed)) return {};
  if (trimmed.front() == '[') {
    const size_t close = trimmed.find(']');
    const size_t end = close == std::string_view::npos ? trimmed.size() : close;
    return {true, TrimmedView(trimmed.substr(1, end - 1))};
  }
  const size_t eq = line.find('=');
  if (eq == std::string_view::npos) return {};
  return {false, TrimmedView(line.substr(0, eq))};
}

// Lines end at CR LF, LF or a lone CR. Each line is found with two memchr scans (LF, then CR
// within the line) rather than a test of every byte for both. The lines are views into `text`.
std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  // Room for every line at once (a lone CR ending lines is rare enough to grow for). The LFs
  // are counted with memchr: a byte-by-byte count cost more than the whole split.
  size_t line_feeds = 0;
  for (size_t at = text.find('\n'); at != std::string_view::npos; at = text.find('\n', at + 1)) {
    ++line_feeds;
  }
  lines.reserve(line_feeds + 1);
  size_t start = 0;
  while (start < text.size()) {
    const size_t lf = text.find('\n', start);
    const std::string_view line =
        text.substr(start, lf == std::string_view::npos ? lf : lf - start);
    const size_t cr = line.find('\r');
    if (cr == std::string_view::npos) {
      lines.push_back(line);
      if (lf == std::string_view::npos) break;
      start = lf + 1;
      continue;
    }
    lines.push_back(line.substr(0, cr));
    start += cr + 1;
    if (start < text.size() && text[start] == '\n') ++start;
  }
  return lines;
}

// The lines as a file holds them, each ended by CR LF.
std::string JoinLines(const std::vector<std::string_view>& lines) {
  size_t size = 0;
  for (const auto& line : lines) size += line.size() + 2;
  std::string text;
  text.reserve(size);
  for (const auto& line : lines) {
    text += line;
    text += "\r\n";
  }
  return text;
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

// What each line names: a request looks up some seventy keys, so every line is parsed once,
// when the content is built, into a sorted table of (section, hash of the case-folded name)
// that a lookup searches instead of the lines.
struct TProfileFile::Content {
  enum class Kind : unsigned char { kOther, kSection, kKey };
  struct Name {
    Kind kind = Kind::kOther;
    size_t offset = 0;  // the trimmed section or key name within its line
    size_t length = 0;
  };
  // One per section or key line, ordered by (header, hash, line): `header` is the line of
  // the key's section (kSectionTable for the sections themselves, kNoSection for keys above
  // the first section, which no lookup finds).
  struct Entry {
    size_t header;
    uint32_t hash;
    size_t line;
    auto operator<=>(const Entry&) const = default;
  };
  static constexpr size_t kSectionTable = static_cast<size_t>(-1);
  static constexpr size_t kNoSection = static_cast<size_t>(-2);

  // The whole text is kept as read and the lines are views into it: a settings file is read
  // by every CGI process, and a string per line cost it an allocation and a copy per line.
  explicit Content(std::string file_text) : text(std::move(file_text)), lines(SplitLines(text)) {
    Index();
  }
  Content(const Content&) = delete;  // the lines point into this object's own text
  Content& operator=(const Content&) = delete;

  std::string_view NameOf(size_t line) const {
    return lines[line].substr(names[line].offset, names[line].length);
  }
  void Index();
  // The first line (in file order) of the entries under `header` named `name`, or -1.
  long Find(size_t header, std::string_view name) const;

  const std::string text;
  const std::vector<std::string_view> lines;
  std::vector<Name> names;  // one per line
  std::vector<Entry> table;
};

namespace {

// FNV-1a of the text with ASCII letters upper-cased: equal for names that SameText matches.
uint32_t FoldedHash(std::string_view text) {
  uint32_t hash = 2166136261u;
  for (const char c : text) {
    hash ^= static_cast<unsigned char>(AsciiUpper(c));
    hash *= 16777619u;
  }
  return hash;
}

// The last lasting version of each settings file this process read: a request reads the same
// brevix.ini for several groups of settings, and a resident process for every request, so the
// file is read and parsed again only when its stamp changed. Readers share the parsed version.
struct CachedContent {
  FileStamp stamp;
  std::shared_ptr<const TProfileFile::Content> content;
};
std::mutex cache_mutex;
std::map<std::string, CachedContent, std::less<>> cache;

std::shared_ptr<const TProfileFile::Content> CachedVersion(const std::string& file_name) {
  {
    // A file this process has not read yet (a CGI process's first read) needs no stamp here:
    // the read takes its own.
    std::lock_guard lock(cache_mutex);
    if (cache.find(file_name) == cache.end()) return nullptr;
  }
  const FileStamp now = StampOf(file_name);
  std::lock_guard lock(cache_mutex);
  const auto found = cache.find(file_name);
  if (found == cache.end() || !now.exists || !(found->second.stamp == now)) return nullptr;
  return found->second.content;
}

}  // namespace

void TProfileFile::Content::Index() {
  names.assign(lines.size(), Name{});
  table.clear();
  table.reserve(lines.size());
  size_t header = kNoSection;
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string_view line = lines[i];
    Name& entry = names[i];
    const LineName named = NameOfLine(line, TrimmedView(line));
    if (!named.name) continue;
    const std::string_view name = *named.name;
    if (named.section) {
      entry.kind = Kind::kSection;
      table.push_back(Entry{kSectionTable, FoldedHash(name), i});
      header = i;
    } else {
      entry.kind = Kind::kKey;
      table.push_back(Entry{header, FoldedHash(name), i});
    }
    entry.offset = static_cast<size_t>(name.data() - line.data());
    entry.length = name.size();
  }
  std::sort(table.begin(), table.end());
}

long TProfileFile::Content::Find(size_t header, std::string_view name) const {
  const uint32_t hash = FoldedHash(name);
  auto at = std::lower_bound(table.begin(), table.end(), Entry{header, hash, 0});
  for (; at != table.end() && at->header == header && at->hash == hash; ++at) {
    if (SameText(NameOf(at->line), name)) return static_cast<long>(at->line);
  }
  return -1;
}

TProfileFile::TProfileFile(std::string file_name, NoRead)
    : file_name_(std::move(file_name)), content_(std::make_shared<const Content>(std::string())) {}

TProfileFile::TProfileFile(std::string file_name) : file_name_(std::move(file_name)) {
  content_ = CachedVersion(file_name_);
  read_from_file_ = content_ != nullptr;
  if (content_) return;
  FileVersion version = ReadFileVersion(file_name_);
  // A file that exists but cannot be read is never written over (see UpdateFile).
  unreadable_ = version.unreadable;
  read_from_file_ = version.stamp.exists && !unreadable_;
  if (unreadable_) unreadable_reason_ = std::strerror(version.read_error);
  content_ = std::make_shared<const Content>(unreadable_ ? std::string() : std::move(version.text));
  if (version.lasting) {
    std::lock_guard lock(cache_mutex);
    cache[file_name_] = CachedContent{version.stamp, content_};
  }
}

TProfileFile TProfileFile::FromText(std::string file_name, std::string_view text) {
  TProfileFile file(std::move(file_name), NoRead{});
  file.content_ = std::make_shared<const Content>(std::string(text));
  return file;
}

std::vector<std::string> TProfileFile::Lines() const {
  return std::vector<std::string>(content_->lines.begin(), content_->lines.end());
}

long TProfileFile::FindSection(std::string_view section) const {
  const std::string_view name = TrimmedView(section);
  if (last_section_ && name == *last_section_) return last_header_;
  last_header_ = content_->Find(Content::kSectionTable, name);
  last_section_.emplace(name);
  return last_header_;
}

long TProfileFile::FindKey(long header, std::string_view key) const {
  return content_->Find(static_cast<size_t>(header), TrimmedView(key));
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
  const std::string_view line = content_->lines[static_cast<size_t>(at)];
  std::string value = Trim(line.substr(line.find('=') + 1));
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
  const long at = header < 0 ? -1 : FindKey(header, key);
  // Where a new key goes is read from the current version.
  size_t insert_at = static_cast<size_t>(header) + 1;
  if (header >= 0 && at < 0) {
    // A new key goes after the last key line of its section, so that blank lines and comments
    // that lead into the next section stay in front of it.
    const std::vector<Content::Name>& names = content_->names;
    for (size_t i = insert_at; i < names.size() && names[i].kind != Content::Kind::kSection; ++i) {
      if (names[i].kind == Content::Kind::kKey) insert_at = i + 1;
    }
  }
  // The shared version stays as it was: this object takes a new version with the line changed.
  std::vector<std::string_view> lines = content_->lines;
  std::string header_line;
  if (header < 0) {
    if (!lines.empty() && !TrimmedView(lines.back()).empty()) lines.emplace_back();
    // Appended piece by piece: "[" + std::string(...) trips GCC 12's -Wrestrict at -O3.
    header_line.reserve(section.size() + 2);
    header_line += '[';
    header_line += section;
    header_line += ']';
    lines.push_back(header_line);
    lines.push_back(line);
  } else if (at >= 0) {
    lines[static_cast<size_t>(at)] = line;
  } else {
    lines.insert(lines.begin() + static_cast<long>(insert_at), line);
  }
  content_ = std::make_shared<const Content>(JoinLines(lines));
  last_section_.reset();
}

void TProfileFile::UpdateFile() const {
  if (unreadable_) ThrowUnableToWrite(file_name_);
  if (!ReplaceFileContents(file_name_, JoinLines(content_->lines))) ThrowUnableToWrite(file_name_);
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
