#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/store/store.h"
#include "common/store/store_admin.h"
#include "common/store/store_tree_posix.h"

namespace quietway {

namespace {

using store_tree::ValueData;

constexpr size_t kMaxListedName = 127;  // names of 128 bytes and more are not listed

std::string_view value_name(const char* name) { return name != nullptr ? name : ""; }

std::string dword_data(uint32_t value) {
    const char bytes[4] = {static_cast<char>(value & 0xFF), static_cast<char>((value >> 8) & 0xFF),
                           static_cast<char>((value >> 16) & 0xFF),
                           static_cast<char>((value >> 24) & 0xFF)};
    return std::string(bytes, sizeof bytes);
}

uint32_t dword_value(const std::string& data) {
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(data[i]);
    return value;
}

bool write_into(const UniqueFd& key, const char* path, const char* name, uint32_t type,
                const std::string& data) {
    return key.valid() &&
           store_tree::write_value(key.get(), value_name(name), type, data,
                                   store_tree::is_secret_value(path, value_name(name)));
}

bool string_of(const ValueData* value, std::string& out) {
    if (value == nullptr || value->type != kValueTypeString) return false;
    // The text ends at the first NUL, so data stored with a terminator reads the same.
    out.assign(value->data.c_str(), ::strnlen(value->data.c_str(), value->data.size()));
    return true;
}

bool dword_of(const ValueData* value, uint32_t& out) {
    if (value == nullptr || value->type != kValueTypeDword || value->data.size() != 4) return false;
    out = dword_value(value->data);
    return true;
}

}  // namespace

bool read_reg_string(const char* path, const char* name, std::string& out) {
    const auto key = store_tree::snapshot_key(path);
    return key != nullptr && string_of(key->find(value_name(name)), out);
}

bool read_reg_dword(const char* path, const char* name, uint32_t& out) {
    const auto key = store_tree::snapshot_key(path);
    return key != nullptr && dword_of(key->find(value_name(name)), out);
}

bool read_reg_values(const char* path, std::initializer_list<ValueRead> values) {
    const auto key = store_tree::snapshot_key(path);
    if (key == nullptr) return false;
    for (const ValueRead& value : values) {
        const ValueData* found = key->find(value_name(value.name));
        if (value.text != nullptr) string_of(found, *value.text);
        if (value.number != nullptr) dword_of(found, *value.number);
    }
    return true;
}

bool write_reg_string(const char* path, const char* name, const std::string& text) {
    return string_value_fits(name, text) &&
           write_into(store_tree::open_key(path), path, name, kValueTypeString, text);
}

bool write_reg_dword(const char* path, const char* name, uint32_t value) {
    return write_into(store_tree::open_key(path), path, name, kValueTypeDword, dword_data(value));
}

bool create_reg_string(RootKey, const char* path, const char* name, const std::string& text) {
    return string_value_fits(name, text) &&
           write_into(store_tree::make_key(path), path, name, kValueTypeString, text);
}

bool create_reg_dword(const char* path, const char* name, uint32_t value) {
    return write_into(store_tree::make_key(path), path, name, kValueTypeDword, dword_data(value));
}

bool delete_reg_key(const char* path) {
    store_tree::KeyInParent found;
    if (!store_tree::open_key_in_parent(path, found)) return false;
    store_tree::remove_values(found.key.get());
    found.key.reset();
    // Removing the directory fails while subkeys remain: the key stays, without its values.
    return ::unlinkat(found.parent.get(), found.entry.c_str(), AT_REMOVEDIR) == 0;
}

bool list_reg_subkeys(const char* path, std::vector<std::string>& out) {
    out.clear();
    const auto key = store_tree::snapshot_key(path);
    if (key == nullptr) return false;
    for (const std::string& name : key->subkeys) {
        if (name.size() <= kMaxListedName) out.push_back(name);
    }
    return true;
}

}  // namespace quietway
