#include "fuzz/fuzz_environment.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "common/store/store.h"
#include "common/store/store_admin.h"

namespace quietway::fuzz {

namespace {

std::string make_environment() {
    // On tmpfs by default: the store flushes every write, which a disk makes slow.
    const char* base = std::getenv("QUIETWAY_FUZZ_TMP");
    std::string pattern =
        std::string(base != nullptr ? base : "/dev/shm") + "/quietway-fuzz-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        std::perror("mkdtemp");
        std::abort();
    }
    const std::string dir = pattern;
    ::setenv(kRegistryEnv, (dir + "/registry").c_str(), 1);
    ::setenv("QUIETWAY_LOG_DIR", (dir + "/logs").c_str(), 1);
    ::setenv("QUIETWAY_PIPE", (dir + "/qwaypipe").c_str(), 1);
    std::filesystem::create_directories(dir + "/registry");
    std::filesystem::create_directories(dir + "/logs");
    for (const char* section : {"app", "general", "conf", "http", "servers", "notifications"}) {
        require(install_reg_key((std::string(kStoreRoot) + "\\" + section).c_str()),
                "installing the section keys");
    }
    std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(environment(), ignored);
    });
    return dir;
}

}  // namespace

const std::string& environment() {
    // Never destroyed: the clean-up at exit still needs it after static objects are gone.
    static const std::string* dir = new std::string(make_environment());
    return *dir;
}

void require(bool holds, const char* what) {
    if (holds) return;
    std::fprintf(stderr, "fuzz: property broken: %s\n", what);
    std::abort();
}

}  // namespace quietway::fuzz
