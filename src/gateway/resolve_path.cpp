#include "gateway/resolve_path.h"

#include "common/module_path.h"
#include "common/text_compare.h"

namespace {

bool IsDriveLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool HasDrive(std::string_view name) {
  return name.size() >= 2 && name[1] == ':' && IsDriveLetter(name[0]);
}

std::string Slashes(std::string_view name) {
  std::string out(name);
  for (char& c : out) {
    if (c == '\\') c = '/';
  }
  return out;
}

}  // namespace

std::string ResolvePathIn(const std::string& program_dir, std::string_view name) {
  if (HasDrive(name)) {
    std::string rest = Slashes(name.substr(2));
    // "c:x.txt" names a file relative to the drive's current directory; the root is the only
    // sensible reading on a system without drives.
    if (rest.empty() || rest[0] != '/') rest.insert(rest.begin(), '/');
    return rest;
  }
  if (!name.empty() && name[0] == '/') return std::string(name);
  std::string dir = program_dir;
  if (dir.empty() || dir.back() != '/') dir += '/';
  if (!name.empty() && name[0] == '\\') name.remove_prefix(1);
  return dir + Slashes(name);
}

std::string ResolvePath(std::string_view name) {
  return ResolvePathIn(ProgramDir(), name);
}

bool IsSafeFormFileName(std::string_view name) {
  if (HasDrive(name)) return false;
  // A control character (a NUL from "%00" above all) would cut the name short on its way to the
  // system and hide what follows from the checks below.
  for (char c : name) {
    if (static_cast<unsigned char>(c) < 0x20) return false;
  }
  if (!name.empty() && name[0] == '/') return false;
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find_first_of("\\/", start);
    if (end == std::string_view::npos) end = name.size();
    if (name.substr(start, end - start) == "..") return false;
    start = end + 1;
  }
  return true;
}

bool HasHtmExtension(std::string_view name) {
  return name.size() >= 4 && SameText(name.substr(name.size() - 4), ".htm");
}
