#include <climits>
#include <cstdint>

#include "common/store/store_limits.h"
#include "common/store/store_tree_posix.h"

namespace quietway {

// Each key is a directory and each value a file, so a name's escaped form must fit in one
// directory entry.
bool key_name_fits(std::string_view name) {
    return !name.empty() && name.size() <= store_tree::kMaxKeyName &&
           store_tree::key_entry_name(name).size() <= NAME_MAX;
}

bool value_name_fits(std::string_view name) {
    return name.size() < NAME_MAX && store_tree::value_entry_name(name).size() <= NAME_MAX;
}

size_t max_key_path_length() { return SIZE_MAX; }

const char* name_limits_text() {
    return "key names up to 255 bytes, value names up to 254 bytes, where '/', '%' and control "
           "characters count three bytes each";
}

}  // namespace quietway
