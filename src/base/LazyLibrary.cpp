#include "base/LazyLibrary.h"

#include <dlfcn.h>

namespace yubin {

LazyLibrary::LazyLibrary(const char* soname, const char* package, ErrorCode code)
    : soname_(soname), package_(package), code_(code) {
    handle_ = ::dlopen(soname, RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
        const char* reason = ::dlerror();
        raise(reason != nullptr ? reason : "");
    }
}

void* LazyLibrary::symbol(const char* name) const {
    void* address = ::dlsym(handle_, name);
    if (address == nullptr) raise(std::string(name) + " がありません");
    return address;
}

void LazyLibrary::raise(const std::string& reason) const {
    throw YubinError(code_, std::string("ライブラリ ") + soname_ + " を使えません（" + reason +
                                "）。パッケージ " + package_ + " をインストールしてください。");
}

}  // namespace yubin
