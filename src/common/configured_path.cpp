#include "common/configured_path.h"

namespace {

std::string Slashes(std::string_view name) {
  std::string out(name);
  for (char& c : out) {
    if (c == '\\') c = '/';
  }
  return out;
}

}  // namespace

bool HasDriveLetter(std::string_view name) {
  return name.size() >= 2 && name[1] == ':' &&
         ((name[0] >= 'a' && name[0] <= 'z') || (name[0] >= 'A' && name[0] <= 'Z'));
}

std::string ResolveConfiguredPath(const std::string& program_dir, std::string_view name) {
  if (HasDriveLetter(name)) {
    std::string rest = Slashes(name.substr(2));
    // "c:x.txt" names a file relative to the drive's current directory; the root is the only
    // sensible reading on a system without drives.
    if (rest.empty() || rest[0] != '/') rest.insert(rest.begin(), '/');
    return rest;
  }
  if (!name.empty() && name[0] == '/') return Slashes(name);
  std::string dir = program_dir;
  if (dir.empty() || dir.back() != '/') dir += '/';
  if (!name.empty() && name[0] == '\\') name.remove_prefix(1);
  return dir + Slashes(name);
}
