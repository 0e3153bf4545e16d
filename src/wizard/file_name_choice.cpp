#include "wizard/file_name_choice.h"

#include <cctype>

namespace {

bool StartsWithDrive(std::string_view path) {
  return path.size() >= 2 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':';
}

}  // namespace

std::string FileNamePartOf(std::string_view path) {
  const std::size_t last = path.find_last_of("/\\");
  if (last == std::string_view::npos) return std::string(path);
  return std::string(path.substr(last + 1));
}

std::string FolderPartOf(std::string_view path) {
  const std::size_t last = path.find_last_of("/\\");
  if (last == std::string_view::npos) return std::string();
  return std::string(path.substr(0, last + 1));
}

std::string RelativePathOf(std::string_view path) {
  if (StartsWithDrive(path)) return std::string(path.substr(2));
  if (path.starts_with("\\\\")) return std::string(path.substr(2));
  // A Linux name: every leading slash goes, so that "//srv/x" cannot stay absolute.
  std::size_t first = 0;
  while (first < path.size() && path[first] == '/') ++first;
  if (first > 0) return std::string(path.substr(first));
  // A single leading backslash already means "below the gateway's folder" to the gateway.
  return std::string(path);
}

std::string ProposeFileName(std::string_view selected_file_path, TFileNameChoice choice) {
  switch (choice) {
    case TFileNameChoice::FileName:
      return FileNamePartOf(selected_file_path);
    case TFileNameChoice::RelativePath:
      return RelativePathOf(selected_file_path);
    case TFileNameChoice::FullPath:
      break;
  }
  return std::string(selected_file_path);
}
