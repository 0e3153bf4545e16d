#include "engine/file_filter.h"

#include "common/exception.h"
#include "common/module_path.h"
#include "common/streams.h"

namespace {

constexpr int kReadPiece = 4096;

std::string ReadWholeFile(const std::string& path) {
  TFileStream file(path, TFileStream::kOpenRead);
  std::string content;
  char piece[kReadPiece];
  for (;;) {
    const int count = file.Read(piece, kReadPiece);
    if (count == 0) break;
    if (count < 0) {
      throw Exception("Cannot read file \"" + path + "\"");
    }
    content.append(piece, static_cast<size_t>(count));
  }
  return content;
}

bool IsDriveLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

}  // namespace

std::string THttpFileFilter::DefaultPageFile(const std::string& module_file) {
  // Only the file's own name counts: a dot in a folder name ("/home/a.b/brevix") must not cut
  // the path short.
  const size_t slash = module_file.find_last_of('/');
  const size_t name_start = slash == std::string::npos ? 0 : slash + 1;
  const size_t dot = module_file.find('.', name_start);
  if (dot == std::string::npos) return module_file + ".htm";
  return module_file.substr(0, dot + 1) + "htm";
}

std::string THttpFileFilter::ResolvePagePath(const std::string& file_name,
                                             const std::string& program_dir) {
  std::string name = file_name;
  for (char& c : name) {
    if (c == '\\') c = '/';
  }
  if (name.size() >= 2 && IsDriveLetter(name[0]) && name[1] == ':') {
    // Appending (rather than inserting in front) also keeps GCC 12's -Wrestrict quiet.
    std::string absolute = "/";
    absolute.append(name, name.size() > 2 && name[2] == '/' ? 3 : 2);
    return absolute;
  }
  // A name given with "\" in front means the program's folder, as on the original platform; a
  // name given with "/" in front is an absolute Linux path.
  if (!file_name.empty() && file_name[0] == '/') return name;
  if (!name.empty() && name[0] == '/') name.erase(0, 1);
  return program_dir + name;
}

void THttpFileFilter::Execute() {
  if (file_name_.empty()) file_name_ = DefaultPageFile(ModuleFileName());
  const std::string content = ReadWholeFile(ResolvePagePath(file_name_, ProgramDir()));
  RunTemplate(content);
}
