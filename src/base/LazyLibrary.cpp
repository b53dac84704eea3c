#include "base/LazyLibrary.h"

#include <dlfcn.h>

namespace yubin {

LazyLibrary::LazyLibrary(const char* soname, const char* package, ErrorCode code)
    : soname_(soname), package_(package), code_(code) {
    handle_ = ::dlopen(soname, RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
        const char* reason = ::dlerror();
        raise(Message::Verbatim(reason != nullptr ? reason : ""));
    }
}

void* LazyLibrary::symbol(const char* name) const {
    void* address = ::dlsym(handle_, name);
    if (address == nullptr) raise(Message("{1} がありません", name));
    return address;
}

void LazyLibrary::raise(const Message& reason) const {
    throw YubinError(code_, Message("ライブラリ {1} を使えません（{2}）。パッケージ {3} をインス"
                                    "トールしてください。",
                                    soname_, reason, package_));
}

}  // namespace yubin
