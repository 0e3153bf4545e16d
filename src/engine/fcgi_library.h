#pragma once

#include <fcgiapp.h>

#include <string>

// libfcgi's FCGX functions, loaded when the program starts serving FastCGI
// (platform/shared_library.h says why a dependency only some runs need is not linked).
//
// Member names are libfcgi's own function names: `fcgi.FCGX_Accept_r(&request)`.
#define BREVIX_FCGI_FUNCTIONS(X) \
  X(FCGX_Accept_r)               \
  X(FCGX_Finish_r)               \
  X(FCGX_Free)                   \
  X(FCGX_GetError)               \
  X(FCGX_GetStr)                 \
  X(FCGX_Init)                   \
  X(FCGX_InitRequest)            \
  X(FCGX_PutS)                   \
  X(FCGX_PutStr)

// The bound functions. `decltype(&::name)` only names the type, so nothing here makes the
// program refer to libfcgi's symbols.
struct TFcgi {
#define BREVIX_FCGI_MEMBER(name) decltype(&::name) name = nullptr;
  BREVIX_FCGI_FUNCTIONS(BREVIX_FCGI_MEMBER)
#undef BREVIX_FCGI_MEMBER
};

// The functions, loaded on the first call (thread-safe; never unloaded). Null when libfcgi
// cannot be loaded or lacks one of them; `error` then says why.
const TFcgi* LoadFcgi(std::string& error);
