#include "publish/LibPq.h"

#include "base/LazyLibrary.h"

namespace yubin::publish {

LibPq LibPq::Load() {
    const LazyLibrary library("libpq.so.5", "libpq5", ErrorCode::PublishClientMissing);
    LibPq pq;
#define YUBIN_LIBPQ_RESOLVE(name) \
    pq.name = reinterpret_cast<decltype(pq.name)>(library.symbol(#name));
    YUBIN_LIBPQ_FUNCTIONS(YUBIN_LIBPQ_RESOLVE)
#undef YUBIN_LIBPQ_RESOLVE
    return pq;
}

const LibPq& Pq() { return LoadOnce<LibPq>(); }

}  // namespace yubin::publish
