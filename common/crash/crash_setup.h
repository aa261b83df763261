#pragma once

#include <cstdint>

// What the platform handler needs at crash time, prepared when it is installed and kept in
// fixed storage: the handler must not allocate, read the store or resolve names itself.
namespace quietway {

struct CrashSetup {
    char product[64];
    char version[32];
    char host[256];
    uint16_t port;
};

// Installs the platform's handler for `setup`, which the caller keeps alive for good.
bool install_platform_crash_handler(const CrashSetup& setup);

}  // namespace quietway
