#include "common/configured_path.h"

namespace {

// Appends `name` to `out` with every backslash made a slash.
void AppendWithSlashes(std::string& out, std::string_view name) {
  const size_t start = out.size();
  out += name;
  for (size_t i = start; i < out.size(); ++i) {
    if (out[i] == '\\') out[i] = '/';
  }
}

std::string Slashes(std::string_view name) {
  std::string out;
  AppendWithSlashes(out, name);
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
  // Built in one string: a request resolves several configured files.
  std::string path;
  path.reserve(program_dir.size() + 1 + name.size());
  path = program_dir;
  if (path.empty() || path.back() != '/') path += '/';
  if (!name.empty() && name[0] == '\\') name.remove_prefix(1);
  AppendWithSlashes(path, name);
  return path;
}
