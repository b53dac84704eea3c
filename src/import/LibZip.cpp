#include "import/LibZip.h"

#include "base/LazyLibrary.h"

namespace yubin::import {

LibZip LibZip::Load() {
    const LazyLibrary library("libzip.so.4", "libzip4", ErrorCode::ArchiveSupportMissing);
    LibZip zip;
#define YUBIN_LIBZIP_RESOLVE(name) \
    zip.name = reinterpret_cast<decltype(zip.name)>(library.symbol(#name));
    YUBIN_LIBZIP_FUNCTIONS(YUBIN_LIBZIP_RESOLVE)
#undef YUBIN_LIBZIP_RESOLVE
    return zip;
}

const LibZip& Zip() { return LoadOnce<LibZip>(); }

}  // namespace yubin::import
