#pragma once

#include <string>

// A shared library opened while the program runs (the LoadLibrary / GetProcAddress pair), for a
// dependency that only some runs need: OpenSSL for TLS to the mail server. With no name it is
// the host process itself (its program and the libraries it loaded globally): the web servers
// that load the gateway as a library export the functions it calls back. The gateway starts once
// for every form submission, and loading a linked library costs every start more than the rest of a
// plain submission; opened here, only the runs that use it pay.
//
// The library is opened with RTLD_LOCAL (its names stay out of the global scope) and never
// closed: the bound functions stay valid for the life of the process. Not thread-safe by itself;
// the loaders build their function tables once, in a function-local static.
//
// kNow binds every function of the library and its dependencies at once (RTLD_NOW); kLazy binds
// each at its first call (RTLD_LAZY), for a library with many dependencies of which a run calls
// little: libpq brings 24 libraries (Kerberos, LDAP, OpenSSL), and binding them all costs a CGI
// run more than its whole database work.
enum class TBinding { kNow, kLazy };

class TSharedLibrary {
 public:
  // Opens `soname` (a file name such as "libssl.so.3", found as the dynamic loader finds it), or
  // the host process when it is null.
  explicit TSharedLibrary(const char* soname, TBinding binding = TBinding::kNow);
  TSharedLibrary(const TSharedLibrary&) = delete;
  TSharedLibrary& operator=(const TSharedLibrary&) = delete;

  // Sets `function` to the library's function `name` (searched in the library and in the
  // libraries it depends on), else to the one named `alternative` when given (a server that
  // exports its functions under a prefix), or to null when both are missing; the first miss is
  // kept in Error().
  template <class Function>
  void Bind(Function*& function, const char* name, const char* alternative = nullptr) {
    function = reinterpret_cast<Function*>(Symbol(name, alternative));
  }

  // True when the library opened and every Bind so far found its function.
  bool Complete() const { return error_.empty(); }
  // Why not: the loader's message ("libssl.so.3: cannot open shared object file: No such file
  // or directory") or "<soname> lacks <name>".
  const std::string& Error() const { return error_; }

 private:
  void* Symbol(const char* name, const char* alternative);

  std::string soname_;
  void* handle_ = nullptr;
  std::string error_;
};

// A table of a library's functions (a struct of function pointers), bound once. `bind_all` is
// called with the library and the table and binds every member; the loaders keep the result in a
// function-local static, so the library is opened at the first use and only then.
template <class Table>
class TFunctionTable {
 public:
  template <class BindAll>
  TFunctionTable(const char* soname, BindAll bind_all, TBinding binding = TBinding::kNow) {
    TSharedLibrary library(soname, binding);
    bind_all(library, functions_);
    error_ = library.Error();
  }

  // The table, or null when the library or one of its functions is missing (`error` says why).
  const Table* Get(std::string& error) const {
    if (error_.empty()) return &functions_;
    error = error_;
    return nullptr;
  }

 private:
  Table functions_;
  std::string error_;
};
