#include <windows.h>

#include <string>
#include <vector>

#include "common/store/store.h"
#include "common/store/store_key_win.h"

namespace quietway {

namespace {

constexpr DWORD kEnumNameCapacity = 128;
constexpr DWORD kClassCapacity = 260;

// The data is the text without a terminator. The registry adds one itself when the byte after
// the counted data is NUL, which would make a 511-byte text unreadable; a guard byte there
// keeps the stored data exactly the text.
bool set_string(HKEY key, const char* name, const std::string& text) {
    std::vector<char> data(text.begin(), text.end());
    data.push_back('\x01');
    return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.data()),
                          static_cast<DWORD>(text.size())) == ERROR_SUCCESS;
}

bool set_dword(HKEY key, const char* name, uint32_t value) {
    const DWORD data = value;
    return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data),
                          sizeof data) == ERROR_SUCCESS;
}

bool query_string(HKEY key, const char* name, std::string& out) {
    char buffer[kMaxStringValue + 1] = {};
    DWORD type = REG_SZ;
    DWORD size = kMaxStringValue;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) !=
            ERROR_SUCCESS ||
        type != REG_SZ)
        return false;
    out = buffer;  // up to the first NUL: stored with or without a terminator reads the same
    return true;
}

bool query_dword(HKEY key, const char* name, uint32_t& out) {
    DWORD value = 0;
    DWORD type = REG_DWORD;
    DWORD size = sizeof value;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
            ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof value)
        return false;
    out = value;
    return true;
}

}  // namespace

bool read_reg_string(const char* path, const char* name, std::string& out) {
    RegKey key;
    return key.open(path, KEY_QUERY_VALUE) && query_string(key.get(), name, out);
}

bool read_reg_dword(const char* path, const char* name, uint32_t& out) {
    RegKey key;
    return key.open(path, KEY_QUERY_VALUE) && query_dword(key.get(), name, out);
}

bool read_reg_values(const char* path, std::initializer_list<ValueRead> values) {
    RegKey key;
    if (!key.open(path, KEY_QUERY_VALUE)) return false;
    for (const ValueRead& value : values) {
        if (value.text != nullptr) query_string(key.get(), value.name, *value.text);
        if (value.number != nullptr) query_dword(key.get(), value.name, *value.number);
    }
    return true;
}

bool write_reg_string(const char* path, const char* name, const std::string& text) {
    RegKey key;
    return string_value_fits(name, text) && key.open(path, KEY_WRITE) &&
           set_string(key.get(), name, text);
}

bool write_reg_dword(const char* path, const char* name, uint32_t value) {
    RegKey key;
    return key.open(path, KEY_WRITE) && set_dword(key.get(), name, value);
}

// The only root is HKEY_LOCAL_MACHINE, which create_store_key works below.
bool create_reg_string(RootKey, const char* path, const char* name, const std::string& text) {
    RegKey key;
    return string_value_fits(name, text) && create_store_key(path, KEY_WRITE, key) &&
           set_string(key.get(), name, text);
}

bool create_reg_dword(const char* path, const char* name, uint32_t value) {
    RegKey key;
    return create_store_key(path, KEY_WRITE, key) && set_dword(key.get(), name, value);
}

bool delete_reg_key(const char* path) {
    RegKey key;
    if (!key.open(path, KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_ENUMERATE_SUB_KEYS)) return false;
    char class_name[kClassCapacity] = {};
    DWORD class_size = kClassCapacity;
    DWORD value_count = 0;
    if (RegQueryInfoKeyA(key.get(), class_name, &class_size, nullptr, nullptr, nullptr, nullptr,
                         &value_count, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        return false;
    // Names first, deletions after: deleting while enumerating would shift the indexes.
    std::vector<std::string> names;
    for (DWORD index = 0; index < value_count; ++index) {
        char value_name[kEnumNameCapacity] = {};
        DWORD name_size = kEnumNameCapacity;
        if (RegEnumValueA(key.get(), index, value_name, &name_size, nullptr, nullptr, nullptr,
                          nullptr) != ERROR_SUCCESS)
            value_name[0] = '\0';
        names.emplace_back(value_name);
    }
    for (const std::string& value_name : names) RegDeleteValueA(key.get(), value_name.c_str());
    key.reset();
    // Fails while the key has subkeys: the key then stays, without its values.
    return RegDeleteKeyA(HKEY_LOCAL_MACHINE, path) == ERROR_SUCCESS;
}

bool list_reg_subkeys(const char* path, std::vector<std::string>& out) {
    out.clear();
    RegKey key;
    if (!key.open(path, KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS)) return false;
    DWORD subkey_count = 0;
    if (RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, &subkey_count, nullptr, nullptr,
                         nullptr, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        return false;
    for (DWORD index = 0; index < subkey_count; ++index) {
        char name[kEnumNameCapacity] = {};
        DWORD name_size = kEnumNameCapacity;
        if (RegEnumKeyExA(key.get(), index, name, &name_size, nullptr, nullptr, nullptr, nullptr) ==
            ERROR_SUCCESS)
            out.emplace_back(name, name_size);
    }
    return true;
}

}  // namespace quietway
