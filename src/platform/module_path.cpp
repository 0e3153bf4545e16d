#include "platform/module_path.h"

#include <dlfcn.h>
#include <link.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <utility>

namespace {

// The shared object this code was loaded from, or "" when it is part of the program itself
// (the program's own entry in the loader's list has an empty name).
std::string SharedObjectFile() {
  Dl_info info{};
  link_map* map = nullptr;
  if (dladdr1(reinterpret_cast<void*>(&SharedObjectFile), &info, reinterpret_cast<void**>(&map),
              RTLD_DL_LINKMAP) == 0 ||
      map == nullptr || map->l_name == nullptr || map->l_name[0] == '\0') {
    return std::string();
  }
  char resolved[PATH_MAX];
  if (::realpath(map->l_name, resolved) == nullptr) return std::string(map->l_name);
  return std::string(resolved);
}

// The program file as the kernel knows it.
std::string ProgramFile() {
  char buffer[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return std::string();
  return std::string(buffer, static_cast<size_t>(n));
}

}  // namespace

const std::string& ModuleFileName() {
  // Inside brevix.so the module is the library (its folder holds brevix.ini), not the web
  // server that loaded it. Either is looked up once: the folder whose settings a process
  // started with stays its folder, and a request asks for it a dozen times.
  static const std::string module = [] {
    std::string library = SharedObjectFile();
    return library.empty() ? ProgramFile() : library;
  }();
  return module;
}

namespace {

// Looked up while the program or the library is being loaded, not at the first request: the
// loader may know the library only by the relative name the host gave dlopen, which names
// another file (or none) once the host has changed its working folder.
[[maybe_unused]] const std::string& module_at_load = ModuleFileName();

}  // namespace

namespace {

std::atomic<const std::string*> folder_override{nullptr};

}  // namespace

TProgramFolderOverride::TProgramFolderOverride(std::string folder) : folder_(std::move(folder)) {
  if (folder_.empty() || folder_.back() != '/') folder_ += '/';
  folder_override.store(&folder_);
}

TProgramFolderOverride::~TProgramFolderOverride() {
  folder_override.store(nullptr);
}

const std::string& ProgramDir() {
  if (const std::string* folder = folder_override.load()) return *folder;
  static const std::string folder = [] {
    const std::string& module = ModuleFileName();
    const size_t slash = module.rfind('/');
    return slash == std::string::npos ? std::string("./") : module.substr(0, slash + 1);
  }();
  return folder;
}
