#include "gateway/resolve_path.h"

#include <filesystem>

#include "common/configured_path.h"
#include "common/text_compare.h"
#include "platform/module_path.h"

std::string ResolvePathIn(const std::string& program_dir, std::string_view name) {
  return ResolveConfiguredPath(program_dir, name);
}

std::string ResolvePath(std::string_view name) {
  return ResolvePathIn(ProgramDir(), name);
}

bool IsSafeFormFileName(std::string_view name) {
  if (HasDriveLetter(name)) return false;
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

std::string CanonicalPath(const std::string& path) {
  std::error_code error;
  const std::filesystem::path canonical = std::filesystem::weakly_canonical(path, error);
  return error ? path : canonical.string();
}

bool IsBelowDir(const std::string& canonical, const std::string& dir) {
  std::string base = CanonicalPath(dir);
  if (base.empty()) return false;
  if (base.back() != '/') base += '/';
  return canonical.compare(0, base.size(), base) == 0;
}

bool IsAutoResultsName(const std::string& name) {
  return name.find("\\auto.") != std::string::npos || name.find("/auto.") != std::string::npos;
}

bool HasHtmExtension(std::string_view name) {
  return (name.size() >= 4 && SameText(name.substr(name.size() - 4), ".htm")) ||
         (name.size() >= 5 && SameText(name.substr(name.size() - 5), ".html"));
}
