#include "platform/shared_library.h"

#include <dlfcn.h>

TSharedLibrary::TSharedLibrary(const char* soname, TBinding binding)
    : soname_(soname != nullptr ? soname : "the host process") {
  handle_ = dlopen(soname, (binding == TBinding::kLazy ? RTLD_LAZY : RTLD_NOW) | RTLD_LOCAL);
  if (handle_ == nullptr) {
    const char* why = dlerror();
    error_ = why != nullptr ? why : soname_ + ": cannot be loaded";
  }
}

void* TSharedLibrary::Symbol(const char* name, const char* alternative) {
  if (handle_ == nullptr) return nullptr;
  void* address = dlsym(handle_, name);
  if (address == nullptr && alternative != nullptr) address = dlsym(handle_, alternative);
  if (address == nullptr && error_.empty()) {
    error_ = soname_;
    error_ += " lacks ";
    error_ += name;
  }
  return address;
}
