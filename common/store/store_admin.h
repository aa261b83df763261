#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Whole-tree operations for installation and maintenance (the quietway_reg tool, test set-up).
// The programs themselves use only store.h. Paths are full key paths below
// HKEY_LOCAL_MACHINE with backslashes; every operation returns true on success.
namespace quietway {

// Registry type codes of the two value kinds the tree holds.
inline constexpr uint32_t kValueTypeString = 1;  // REG_SZ
inline constexpr uint32_t kValueTypeDword = 4;   // REG_DWORD

// Largest value data the whole-value operations move, in bytes.
inline constexpr size_t kMaxValueData = 1024 * 1024;

// One value as stored: its name ("" is the key's default value), type code and raw data.
struct StoreValue {
    std::string name;
    uint32_t type = 0;
    std::string data;
};

// Every value of the key (the store's order), data as stored, terminators included.
bool list_reg_values(const char* path, std::vector<StoreValue>& out);

// One value with its type, whatever the type; `out` is untouched on failure.
bool read_reg_value(const char* path, const char* name, StoreValue& out);

// Creates the key and its missing parents with the permissions that create_reg_string gives
// them (open to every user only at or below the notifications key). An existing key is left
// as it is.
bool install_reg_key(const char* path);

// install_reg_key, then writes the value. Only string and number values are accepted; a
// number's data must be 4 bytes.
bool install_reg_value(const char* path, const StoreValue& value);

// Removes one value; a missing value or key fails.
bool delete_reg_value(const char* path, const char* name);

// Removes the key with all its subkeys and values. The root key itself is never removed.
bool delete_reg_tree(const char* path);

bool reg_key_exists(const char* path);

}  // namespace quietway
