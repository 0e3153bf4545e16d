#include "engine/file_filter.h"

#include "common/configured_path.h"
#include "common/exception.h"
#include "platform/module_path.h"
#include "platform/whole_file.h"

namespace {

std::string ReadPageFile(const std::string& path) {
  std::string content;
  switch (ReadRegularFile(path, content)) {
    case WholeFileRead::kRead:
      return content;
    case WholeFileRead::kNotOpened:
      throw Exception("Cannot open file \"" + path + "\"");
    case WholeFileRead::kReadFailed:
      break;
  }
  throw Exception("Cannot read file \"" + path + "\"");
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
  return ResolveConfiguredPath(program_dir, file_name);
}

void THttpFileFilter::Execute() {
  if (file_name_.empty()) file_name_ = DefaultPageFile(ModuleFileName());
  const std::string content = ReadPageFile(ResolvePagePath(file_name_, ProgramDir()));
  RunTemplate(content);
}
