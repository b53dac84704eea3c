// A shared library opened when it is first needed rather than at start-up: a command that
// never uses it starts without it and the libraries it brings.
#pragma once

#include <mutex>
#include <string>

#include "base/Error.h"

namespace yubin {

// Opens `soname` for the life of the process (its own symbols stay its own). Raises `code`,
// naming the library and the Debian package that holds it, when the library or one of the
// names asked for is missing.
class LazyLibrary {
  public:
    LazyLibrary(const char* soname, const char* package, ErrorCode code);
    // The address of `name`; raises when it is missing.
    void* symbol(const char* name) const;

  private:
    [[noreturn]] void raise(const Message& reason) const;

    const char* soname_;
    const char* package_;
    ErrorCode code_;
    void* handle_ = nullptr;
};

// The function table `Table` of a library, loaded at its first use: Table must have a static
// `Table Load()`. A failed load raises again at the next call.
template <typename Table>
const Table& LoadOnce() {
    static std::once_flag once;
    static Table table;
    std::call_once(once, [] { table = Table::Load(); });
    return table;
}

}  // namespace yubin
