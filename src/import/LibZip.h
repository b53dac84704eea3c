// libzip, loaded when the first ZIP archive is opened: a command that reads no archive starts
// without it and the libraries it brings (the TLS library's crypto among them).
#pragma once

#include <zip.h>

namespace yubin::import {

// The functions the archive reader calls, named as libzip names them.
#define YUBIN_LIBZIP_FUNCTIONS(X)     \
    X(zip_discard)                    \
    X(zip_error_code_zip)             \
    X(zip_fclose)                     \
    X(zip_fdopen)                     \
    X(zip_file_extra_field_get_by_id) \
    X(zip_file_get_error)             \
    X(zip_fopen_index)                \
    X(zip_fread)                      \
    X(zip_get_error)                  \
    X(zip_get_name)                   \
    X(zip_get_num_entries)            \
    X(zip_stat_index)                 \
    X(zip_stat_init)

struct LibZip {
#define YUBIN_LIBZIP_POINTER(name) decltype(&::name) name = nullptr;
    YUBIN_LIBZIP_FUNCTIONS(YUBIN_LIBZIP_POINTER)
#undef YUBIN_LIBZIP_POINTER
    static LibZip Load();
};

// The library, loaded at the first call; raises ArchiveSupportMissing when it cannot be.
const LibZip& Zip();

}  // namespace yubin::import
