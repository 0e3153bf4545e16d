#include "common/module_path.h"

#include <unistd.h>

#include <climits>

std::string ModuleFileName() {
  char buffer[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return std::string();
  return std::string(buffer, static_cast<size_t>(n));
}

std::string ProgramDir() {
  const std::string module = ModuleFileName();
  const size_t slash = module.rfind('/');
  return slash == std::string::npos ? std::string("./") : module.substr(0, slash + 1);
}
