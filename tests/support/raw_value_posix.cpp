#include <filesystem>

#include "tests/support/store_fixture.h"

namespace quietway::testing {

// The tree's file format written by hand: a header line with the type, then the data.
bool put_raw_value(const std::string& path, const std::string& name, uint32_t type,
                   const std::string& data) {
    std::filesystem::path key = std::getenv(kRegistryEnv);
    std::string rest = path;
    for (size_t end; (end = rest.find('\\')) != std::string::npos; rest.erase(0, end + 1))
        key /= rest.substr(0, end);
    key /= rest;
    std::error_code error;
    std::filesystem::create_directories(key, error);
    const char* header = type == kValueTypeString ? "REG_SZ\n" : "REG_DWORD\n";
    write_file(key / ("@" + name), header + data);
    return !error && std::filesystem::exists(key / ("@" + name));
}

}  // namespace quietway::testing
