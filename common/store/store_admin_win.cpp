#include <windows.h>

#include <algorithm>
#include <vector>

#include "common/store/store_admin.h"
#include "common/store/store_key_win.h"

namespace quietway {

namespace {

constexpr DWORD kMaxValueName = 16384;  // the registry's own limit, terminator included

bool valid_value(const StoreValue& value) {
    if (value.type == kValueTypeDword) return value.data.size() == 4;
    return value.type == kValueTypeString && value.data.size() <= kMaxValueData;
}

bool enumerate_value(HKEY key, DWORD index, DWORD data_capacity, StoreValue& out) {
    std::string name(kMaxValueName, '\0');
    std::string data(data_capacity, '\0');
    DWORD name_size = kMaxValueName;
    DWORD data_size = data_capacity;
    DWORD type = 0;
    if (RegEnumValueA(key, index, name.data(), &name_size, nullptr, &type,
                      reinterpret_cast<BYTE*>(data.data()), &data_size) != ERROR_SUCCESS)
        return false;
    out.name.assign(name.data(), name_size);
    out.type = type;
    out.data.assign(data.data(), data_size);
    return true;
}

}  // namespace

bool list_reg_values(const char* path, std::vector<StoreValue>& out) {
    RegKey key;
    if (!key.open(path, KEY_QUERY_VALUE)) return false;
    DWORD count = 0;
    DWORD longest_data = 0;
    if (RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count,
                         nullptr, &longest_data, nullptr, nullptr) != ERROR_SUCCESS ||
        longest_data > kMaxValueData)
        return false;
    std::vector<StoreValue> values;
    for (DWORD index = 0; index < count; ++index) {
        StoreValue value;
        if (!enumerate_value(key.get(), index, longest_data + 1, value)) return false;
        values.push_back(std::move(value));
    }
    out = std::move(values);
    return true;
}

bool read_reg_value(const char* path, const char* name, StoreValue& out) {
    RegKey key;
    DWORD type = 0;
    DWORD size = 0;
    if (!key.open(path, KEY_QUERY_VALUE) ||
        RegQueryValueExA(key.get(), name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        size > kMaxValueData)
        return false;
    std::string data(size, '\0');
    if (RegQueryValueExA(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                         &size) != ERROR_SUCCESS)
        return false;
    out.name = name != nullptr ? name : "";
    out.type = type;
    out.data.assign(data.data(), std::min<size_t>(size, data.size()));
    return true;
}

bool install_reg_key(const char* path) {
    RegKey key;
    return create_store_key(path, KEY_WRITE, key);
}

bool install_reg_value(const char* path, const StoreValue& value) {
    // A guard byte after the data keeps the registry from appending a terminator of its own.
    std::vector<char> data(value.data.begin(), value.data.end());
    data.push_back('\x01');
    RegKey key;
    return valid_value(value) && create_store_key(path, KEY_WRITE, key) &&
           RegSetValueExA(key.get(), value.name.c_str(), 0, value.type,
                          reinterpret_cast<const BYTE*>(data.data()),
                          static_cast<DWORD>(value.data.size())) == ERROR_SUCCESS;
}

bool delete_reg_value(const char* path, const char* name) {
    RegKey key;
    return key.open(path, KEY_SET_VALUE) && RegDeleteValueA(key.get(), name) == ERROR_SUCCESS;
}

bool delete_reg_tree(const char* path) {
    if (path == nullptr || *path == '\0') return false;
    return RegDeleteTreeA(HKEY_LOCAL_MACHINE, path) == ERROR_SUCCESS;
}

bool reg_key_exists(const char* path) {
    RegKey key;
    return key.open(path, KEY_QUERY_VALUE);
}

}  // namespace quietway
