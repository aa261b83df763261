#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "common/store/store_limits.h"

// Access to the settings tree that all four programs share. On Windows it is the registry
// below HKEY_LOCAL_MACHINE; on Linux a directory tree of the same shape (one directory per
// key, one file per value) rooted at /var/lib/quietway/registry or $QUIETWAY_REGISTRY.
// Every operation opens, acts and closes; on Linux a read may instead answer from a snapshot
// of the key that this process took earlier, while the key's directory shows no change since.
// All return true on success.
namespace quietway {

// Root of the program's own tree and its section keys.
inline constexpr const char* kStoreRoot = "SOFTWARE\\Quietway2";
inline constexpr const char* kServersPath = "SOFTWARE\\Quietway2\\servers";
inline constexpr const char* kNotificationsPath = "SOFTWARE\\Quietway2\\notifications";

// Environment variable that moves the Linux tree elsewhere (tests, demo).
inline constexpr const char* kRegistryEnv = "QUIETWAY_REGISTRY";

// The only root key the programs use.
enum class RootKey { local_machine };

// Section operations: section is "app", "general", "conf", "http", "servers", or nullptr for
// the root key itself.
bool get_setting_string(const char* section, const char* name, std::string& out);
bool get_setting_dword(const char* section, const char* name, uint32_t& out);
bool set_setting_string(const char* section, const char* name, const std::string& text);
bool set_setting_dword(const char* section, const char* name, uint32_t value);

// Path operations: path is a full key path below HKEY_LOCAL_MACHINE, with backslashes.
// Reads leave `out` untouched on failure.
bool read_reg_string(const char* path, const char* name, std::string& out);
bool read_reg_dword(const char* path, const char* name, uint32_t& out);

// One value that read_reg_values reads: a string into `text` or a number into `number`.
struct ValueRead {
    const char* name;
    std::string* text = nullptr;
    uint32_t* number = nullptr;
};

// Reads several values of one key with one look at the key (listings read many keys): each
// as read_reg_string or read_reg_dword would, one that cannot be read left as it was. False
// when the key cannot be opened.
bool read_reg_values(const char* path, std::initializer_list<ValueRead> values);

// Write into an existing key; a missing key is never created. Texts longer than
// kMaxStringValue are refused (and logged), since no read could return them.
bool write_reg_string(const char* path, const char* name, const std::string& text);
bool write_reg_dword(const char* path, const char* name, uint32_t value);

// Create the key (and missing parents), then write. Keys at or below the notifications key
// are writable by every local user, since the tray in the user's session changes and deletes
// them; every other key only by the administrators (root on Linux).
bool create_reg_string(RootKey root, const char* path, const char* name, const std::string& text);
bool create_reg_dword(const char* path, const char* name, uint32_t value);

// Key and value names compare as the registry compares them: without regard to ASCII case.
bool same_store_name(std::string_view a, std::string_view b);

// Whether keys created at `path` are open to every local user: the notifications key and the
// keys below it.
bool is_open_key(std::string_view path);

// Delete every value of the key, then the key; a key with subkeys stays (without values).
bool delete_reg_key(const char* path);

// Names of the key's direct subkeys in the registry's order (sorted as text: "10" < "2").
bool list_reg_subkeys(const char* path, std::vector<std::string>& out);

}  // namespace quietway
