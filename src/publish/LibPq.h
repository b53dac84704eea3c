// libpq, loaded when the first connection to a server is made: every command that never
// publishes starts without it and the twenty libraries it brings (Kerberos, LDAP, TLS), which
// cost most of a short command's start-up.
#pragma once

#include <libpq-fe.h>

namespace yubin::publish {

// The functions the publisher calls, named as libpq names them.
#define YUBIN_LIBPQ_FUNCTIONS(X) \
    X(PQclear)                   \
    X(PQconnectdbParams)         \
    X(PQconninfoFree)            \
    X(PQconninfoParse)           \
    X(PQerrorMessage)            \
    X(PQescapeIdentifier)        \
    X(PQexec)                    \
    X(PQexecParams)              \
    X(PQfinish)                  \
    X(PQfreemem)                 \
    X(PQgetResult)               \
    X(PQgetisnull)               \
    X(PQgetvalue)                \
    X(PQntuples)                 \
    X(PQping)                    \
    X(PQputCopyData)             \
    X(PQputCopyEnd)              \
    X(PQresultErrorField)        \
    X(PQresultStatus)            \
    X(PQsendQuery)               \
    X(PQsetClientEncoding)       \
    X(PQstatus)                  \
    X(PQtransactionStatus)

struct LibPq {
#define YUBIN_LIBPQ_POINTER(name) decltype(&::name) name = nullptr;
    YUBIN_LIBPQ_FUNCTIONS(YUBIN_LIBPQ_POINTER)
#undef YUBIN_LIBPQ_POINTER
    static LibPq Load();
};

// The library, loaded at the first call; raises PublishClientMissing when it cannot be.
const LibPq& Pq();

}  // namespace yubin::publish
