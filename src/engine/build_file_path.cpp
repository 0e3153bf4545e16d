#include "engine/build_file_path.h"

#include <algorithm>
#include <cctype>
#include <string_view>

namespace {

// Extensions taken from a name are cut to this many characters.
constexpr size_t kMaxExtensionLength = 1024;

bool IsSeparator(char c) {
  return c == '/' || c == '\\';
}

bool HasDrive(std::string_view name) {
  return name.size() >= 2 && std::isalpha(static_cast<unsigned char>(name[0])) && name[1] == ':';
}

bool IsAbsolute(std::string_view name) {
  return HasDrive(name) || (!name.empty() && name[0] == '/');
}

std::string WithSlashes(std::string_view name) {
  std::string result(name);
  std::replace(result.begin(), result.end(), '\\', '/');
  return result;
}

// A configured absolute name in this system's form: the drive dropped, "/" separators, and
// always rooted (so "c:data" does not turn into a name relative to the working directory).
std::string AbsoluteForm(std::string_view name) {
  const std::string rest = WithSlashes(HasDrive(name) ? name.substr(2) : name);
  std::string result;
  result.reserve(rest.size() + 1);
  if (rest.empty() || rest[0] != '/') result += '/';
  result += rest;
  return result;
}

size_t LastSeparator(std::string_view name) {
  const auto it = std::find_if(name.rbegin(), name.rend(), IsSeparator);
  return it == name.rend() ? std::string_view::npos : static_cast<size_t>(name.rend() - it - 1);
}

// Replaces `from` by the shorter `to` until no `from` is left, in one pass: the text is copied
// and a `from` that the copy ends with is shortened at once, so "///" and "/././" collapse too.
void ReplaceRepeatedly(std::string& text, std::string_view from, std::string_view to) {
  std::string result;
  result.reserve(text.size());
  for (char c : text) {
    result += c;
    if (result.ends_with(from)) {
      result.resize(result.size() - from.size());
      result += to;
    }
  }
  text = std::move(result);
}

}  // namespace

std::string BuildFilePath(const std::string& base_file, const std::string& dir, bool keep_base_name,
                          const std::string& file_name, bool keep_base_ext,
                          const std::string& ext) {
  if (IsAbsolute(file_name)) return AbsoluteForm(file_name);

  const size_t base_separator = LastSeparator(base_file);
  const std::string_view base_view(base_file);
  const std::string_view base_dir = base_separator == std::string_view::npos
                                        ? std::string_view()
                                        : base_view.substr(0, base_separator + 1);
  const std::string_view base_name =
      base_separator == std::string_view::npos ? base_view : base_view.substr(base_separator + 1);

  std::string folder;
  if (IsAbsolute(dir)) {
    folder = AbsoluteForm(dir) + "/";
  } else {
    // A relative folder never climbs to the root: a leading backslash is dropped.
    const std::string_view relative =
        std::string_view(dir).substr(std::min(dir.find_first_not_of('\\'), dir.size()));
    folder = std::string(base_dir);
    if (!relative.empty()) folder += std::string(relative) + "/";
  }

  std::string name_part;
  std::string ext_part;
  if (keep_base_name || keep_base_ext) {
    const size_t dot = base_name.find('.');
    if (dot != std::string_view::npos) {
      if (keep_base_ext) ext_part = std::string(base_name.substr(dot + 1, kMaxExtensionLength));
      if (keep_base_name) name_part = std::string(base_name.substr(0, dot));
    } else if (keep_base_name) {
      // Programs here usually carry no extension: their whole name is the base name.
      name_part = std::string(base_name);
    }
  }

  const size_t name_separator = LastSeparator(file_name);
  const size_t last_start = name_separator == std::string::npos ? 0 : name_separator + 1;
  const size_t dot = file_name.find('.', last_start);
  if (dot == std::string::npos) {
    name_part += file_name;
  } else {
    name_part += file_name.substr(0, dot);
    if (ext.empty()) ext_part += file_name.substr(dot + 1, kMaxExtensionLength);
  }
  ext_part += ext;

  std::string result = WithSlashes(folder + name_part + "." + ext_part);
  ReplaceRepeatedly(result, "/./", "/");
  ReplaceRepeatedly(result, "//", "/");
  return result;
}
