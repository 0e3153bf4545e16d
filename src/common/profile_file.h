#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// A settings file of the sectioned kind ("[Section]" lines, then "Name=Value" lines), read and
// written with the rules of the Windows profile functions:
//
// - Section names and keys are trimmed and compared without regard to ASCII case; the first
//   matching section and the first matching key in it win.
// - A value is the text after the first "=", trimmed of blanks and control characters at both
//   ends, and cut to kMaxProfileValue characters.
// - CR LF, LF or a lone CR end a line on reading; CR LF ends every line that is written.
// - Lines of any other kind (comments starting with ";" or "#", blank lines, text without "=")
//   are kept unchanged when the file is written back.
// - Writing a key that exists replaces its line in place; a new key is appended after the last
//   key line of its section; a missing section is appended at the end of the file, and a
//   missing file is created.
//
// Writes never leave a half-written file: the new content goes to a temporary file in the
// same folder, which then replaces the old one with rename(). A symbolic link is followed, so
// the file it points at is replaced and the link stays.

// The longest value that a read returns (the profile reader's 2048-byte buffer less its
// terminator).
inline constexpr size_t kMaxProfileValue = 2047;

// The whole content of one profile file, held in memory as its lines. Not thread-safe; a
// TProfileFile shares its parsed lines with the process's cache of the file (and with other
// TProfileFile objects of the same version) until WriteString gives it a copy of its own.
class TProfileFile {
 public:
  // Binds to `file_name` and reads it. A missing or unreadable file reads as empty: every
  // lookup then gives its default. The content is one whole version of the file, even while an
  // editor rewrites it in place (see ReadFileVersion). The process keeps the last version it
  // read of each file and reads the file again only when its size, change time or inode moved.
  explicit TProfileFile(std::string file_name);

  // Binds to `file_name` but takes its lines from `text` instead of reading the file (for
  // content that is already in memory; UpdateFile() still writes `file_name`).
  static TProfileFile FromText(std::string file_name, std::string_view text);

  const std::string& FileName() const { return file_name_; }

  // Why the file could not be read although it exists (the system's text for the error, such
  // as "Permission denied"); empty when it was read or does not exist.
  const std::string& UnreadableReason() const { return unreadable_reason_; }

  // True when the content was read whole from FileName(), a regular file (not from text given,
  // and not the empty content of a missing or unreadable file).
  bool ReadFromFile() const { return read_from_file_; }

  // The value of `key` in `section` (trimmed, at most kMaxProfileValue characters), or
  // `default_value` when the section or the key is absent.
  std::string ReadString(std::string_view section, std::string_view key,
                         std::string_view default_value) const;

  // True when `section` holds a line for `key` (its value may be empty).
  bool ValueExists(std::string_view section, std::string_view key) const;

  // Sets `key` in `section` in memory (see the header comment for where the line goes); call
  // UpdateFile() to store it. The key is written with the spelling given here. Line breaks in
  // `value` cannot be stored in a profile line and are turned into blanks.
  // Throws Exception("Invalid profile key \"<key>\"") for an empty key or one holding "=",
  // a line break, or starting with "[", ";" or "#", and Exception("Invalid profile section
  // \"<section>\"") for an empty section name or one holding "]" or a line break (neither could
  // be read back).
  void WriteString(std::string_view section, std::string_view key, std::string_view value);

  // Writes the lines to FileName() with CR LF line ends, replacing the file in one step.
  // Throws Exception("Unable to write to <file name>") when the folder cannot take the
  // temporary file, the write fails, the rename fails, or the existing file could not be read
  // when it was loaded (so that a file we cannot read is never overwritten with less). On
  // failure the old file is left as it was.
  void UpdateFile() const;

  // The lines as they would be written (for inspection; without line ends).
  std::vector<std::string> Lines() const;

  // The parsed lines (defined in profile_file.cpp): the lines and what each of them names.
  struct Content;

 private:
  struct NoRead {};
  TProfileFile(std::string file_name, NoRead);

  // Index of the first "[section]" line, or -1.
  long FindSection(std::string_view section) const;
  // Index of the line of `key` in the section starting at `header`, or -1.
  long FindKey(long header, std::string_view key) const;

  std::string file_name_;
  std::shared_ptr<const Content> content_;  // never null
  // The section FindSection found last, and its line: a group of settings reads many keys of
  // one section, and its line is looked up once. Valid while content_ is the same.
  mutable std::optional<std::string> last_section_;
  mutable long last_header_ = -1;
  bool unreadable_ = false;  // the file exists but could not be read
  bool read_from_file_ = false;
  std::string unreadable_reason_;
};

// One-shot helpers with the behaviour of the Windows calls of the same purpose.
// ReadProfileString never fails; WriteProfileString loads, sets one key and writes the file,
// throwing as TProfileFile::UpdateFile does.
std::string ReadProfileString(const std::string& file_name, std::string_view section,
                              std::string_view key, std::string_view default_value);
void WriteProfileString(const std::string& file_name, std::string_view section,
                        std::string_view key, std::string_view value);
