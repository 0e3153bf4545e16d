#include "gateway/store/libpq_library.h"

#include "platform/shared_library.h"

const TLibPq* LoadLibPq(std::string& error) {
  static const TFunctionTable<TLibPq> table(
      "libpq.so.5",
      [](TSharedLibrary& library, TLibPq& pq) {
#define BREVIX_LIBPQ_BIND(name) library.Bind(pq.name, #name);
        BREVIX_LIBPQ_BIND(PQconnectdbParams)
        BREVIX_LIBPQ_BIND(PQstatus)
        BREVIX_LIBPQ_BIND(PQerrorMessage)
        BREVIX_LIBPQ_BIND(PQfinish)
        BREVIX_LIBPQ_BIND(PQsocket)
        BREVIX_LIBPQ_BIND(PQexec)
        BREVIX_LIBPQ_BIND(PQexecParams)
        BREVIX_LIBPQ_BIND(PQresultStatus)
        BREVIX_LIBPQ_BIND(PQresultErrorMessage)
        BREVIX_LIBPQ_BIND(PQntuples)
        BREVIX_LIBPQ_BIND(PQgetvalue)
        BREVIX_LIBPQ_BIND(PQgetisnull)
        BREVIX_LIBPQ_BIND(PQclear)
#undef BREVIX_LIBPQ_BIND
      },
      TBinding::kLazy);
  return table.Get(error);
}
