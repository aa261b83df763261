#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "common/store/store_admin.h"
#include "common/store/store_limits.h"
#include "common/store/store_tree_posix.h"

namespace quietway {

namespace {

std::string_view value_name(const char* name) { return name != nullptr ? name : ""; }

bool valid_value(const StoreValue& value) {
    if (value.type == kValueTypeDword) return value.data.size() == 4;
    return value.type == kValueTypeString && value.data.size() <= kMaxValueData;
}

// `depth` is the key's own depth below HKEY_LOCAL_MACHINE. Nothing deeper than the store's
// limit can be created through it, so a deeper tree was made by other means and is not walked.
bool remove_tree_below(int key, size_t depth) {
    if (depth > kMaxKeyDepth) return false;
    std::vector<std::string> subkeys;
    store_tree::for_each_entry(key, [&](const std::string& entry, bool is_directory) {
        std::string name;
        if (is_directory && store_tree::decode_key_entry(entry, name)) subkeys.push_back(entry);
        return true;
    });
    bool removed = true;
    for (const std::string& entry : subkeys) {
        UniqueFd subkey(
            ::openat(key, entry.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!subkey.valid() || !remove_tree_below(subkey.get(), depth + 1)) removed = false;
        subkey.reset();
        if (::unlinkat(key, entry.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT) removed = false;
    }
    return store_tree::remove_values(key) && removed;
}

}  // namespace

bool list_reg_values(const char* path, std::vector<StoreValue>& out) {
    const UniqueFd key = store_tree::open_key(path);
    if (!key.valid()) return false;
    std::vector<StoreValue> values;
    const bool listed =
        store_tree::for_each_entry(key.get(), [&](const std::string& entry, bool is_directory) {
            StoreValue value;
            store_tree::ValueData data;
            // A value removed while the listing runs is simply not listed.
            if (!is_directory && store_tree::decode_value_entry(entry, value.name) &&
                store_tree::read_value_entry(key.get(), entry, kMaxValueData, data)) {
                value.type = data.type;
                value.data = std::move(data.data);
                values.push_back(std::move(value));
            }
            return true;
        });
    if (!listed) return false;
    std::sort(values.begin(), values.end(), [](const StoreValue& a, const StoreValue& b) {
        return store_tree::name_before(a.name, b.name);
    });
    out = std::move(values);
    return true;
}

bool read_reg_value(const char* path, const char* name, StoreValue& out) {
    const UniqueFd key = store_tree::open_key(path);
    store_tree::ValueData data;
    std::string entry;
    if (!key.valid() || !store_tree::find_value_entry(key.get(), value_name(name), entry) ||
        !store_tree::read_value_entry(key.get(), entry, kMaxValueData, data))
        return false;
    store_tree::decode_value_entry(entry, out.name);
    out.type = data.type;
    out.data = std::move(data.data);
    return true;
}

bool install_reg_key(const char* path) { return store_tree::make_key(path).valid(); }

bool install_reg_value(const char* path, const StoreValue& value) {
    if (!valid_value(value)) return false;
    const UniqueFd key = store_tree::make_key(path);
    return key.valid() && store_tree::write_value(key.get(), value.name, value.type, value.data,
                                                  store_tree::is_secret_value(path, value.name));
}

bool delete_reg_value(const char* path, const char* name) {
    const UniqueFd key = store_tree::open_key(path);
    std::string entry;
    if (!key.valid() || !store_tree::find_value_entry(key.get(), value_name(name), entry))
        return false;
    if (::unlinkat(key.get(), entry.c_str(), 0) != 0) return false;
    ::fsync(key.get());
    return true;
}

bool delete_reg_tree(const char* path) {
    store_tree::KeyInParent found;
    if (!store_tree::open_key_in_parent(path, found)) return false;
    const bool emptied = remove_tree_below(found.key.get(), key_path_depth(path));
    found.key.reset();
    return emptied && ::unlinkat(found.parent.get(), found.entry.c_str(), AT_REMOVEDIR) == 0;
}

bool reg_key_exists(const char* path) { return store_tree::open_key(path).valid(); }

}  // namespace quietway
