#include "engine/fcgi_library.h"

#include "platform/shared_library.h"

const TFcgi* LoadFcgi(std::string& error) {
  // Debian's libfcgi0ldbl (the library of libfcgi-dev).
  static const TFunctionTable<TFcgi> table("libfcgi.so.0",
                                           [](TSharedLibrary& library, TFcgi& fcgi) {
#define BREVIX_FCGI_BIND(name) library.Bind(fcgi.name, #name);
                                             BREVIX_FCGI_FUNCTIONS(BREVIX_FCGI_BIND)
#undef BREVIX_FCGI_BIND
                                           });
  return table.Get(error);
}
