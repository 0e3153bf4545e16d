// Feeds arbitrary settings-file text to the profile reader and writer. The first line of the
// input names a section, a key and a value ("section|key|value"); the rest is the file. After
// the key is written, the written file must read back with that key holding its value.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "common/exception.h"
#include "common/profile_file.h"
#include "common/text_compare.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const size_t eol = input.find('\n');
  const std::string_view head = input.substr(0, eol);
  const std::string_view body = eol == std::string_view::npos ? "" : input.substr(eol + 1);
  const size_t bar1 = head.find('|');
  const size_t bar2 = bar1 == std::string_view::npos ? bar1 : head.find('|', bar1 + 1);
  if (bar2 == std::string_view::npos) return 0;
  const std::string_view section = head.substr(0, bar1);
  const std::string_view key = head.substr(bar1 + 1, bar2 - bar1 - 1);
  const std::string_view value = head.substr(bar2 + 1);

  TProfileFile file = TProfileFile::FromText("fuzz.ini", body);
  (void)file.ReadString(section, key, "default");
  try {
    file.WriteString(section, key, value);
  } catch (const Exception&) {
    return 0;  // a key or section that could not be read back is refused
  }
  std::string text;
  for (const std::string& line : file.Lines()) text += line + "\r\n";
  const TProfileFile back = TProfileFile::FromText("fuzz.ini", text);

  // Line breaks in the value are stored as blanks, which the reader may then trim.
  std::string stored(value);
  for (char& c : stored) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  stored = Trim(stored);
  if (stored.size() > kMaxProfileValue) stored.resize(kMaxProfileValue);
  if (back.ReadString(section, key, "<absent>") != stored) std::abort();
  return 0;
}
