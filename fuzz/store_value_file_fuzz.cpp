// The store's value files on Linux as any local user could leave them in an open key, and
// value names through their file-name form. The first byte picks which.
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "common/store/store.h"
#include "common/store/store_admin.h"
#include "common/store/store_limits.h"
#include "common/store/store_tree_posix.h"
#include "fuzz/fuzz_environment.h"

namespace {

using namespace quietway;

constexpr const char* kKey = "SOFTWARE\\Quietway2\\notifications\\1";

void read_planted_file(std::string_view content) {
    static const std::string file = [] {
        fuzz::require(install_reg_key(kKey), "the key is made");
        return fuzz::environment() + "/registry/SOFTWARE/Quietway2/notifications/1/@state";
    }();
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(content.data(), static_cast<std::streamsize>(content.size()));
    }
    std::string text;
    if (read_reg_string(kKey, "state", text))
        fuzz::require(text.size() <= kMaxStringValue && text.find('\0') == std::string::npos,
                      "a string read is within its limit and ends at its first NUL");
    uint32_t number = 0;
    read_reg_dword(kKey, "STATE", number);
    StoreValue value;
    if (read_reg_value(kKey, "state", value))
        fuzz::require(value.type == kValueTypeString || value.type == kValueTypeDword,
                      "only the two value types are read");
    std::vector<StoreValue> values;
    fuzz::require(list_reg_values(kKey, values), "the key stays listable");
}

void round_trip_name(std::string_view name) {
    if (!value_name_fits(name)) return;
    std::string decoded;
    fuzz::require(store_tree::decode_value_entry(store_tree::value_entry_name(name), decoded) &&
                      decoded == name,
                  "a value name survives its file-name form");
    if (!key_name_fits(name) || name.empty()) return;
    fuzz::require(
        store_tree::decode_key_entry(store_tree::key_entry_name(name), decoded) && decoded == name,
        "a key name survives its directory-name form");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::environment();
    if (size == 0) return 0;
    const std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    if ((data[0] & 1) == 0) {
        read_planted_file(rest);
    } else {
        round_trip_name(rest);
    }
    return 0;
}
