#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Access to the settings tree that all four programs share. On Windows it is the registry
// below HKEY_LOCAL_MACHINE; on Linux a directory tree of the same shape (one directory per
// key, one file per value) rooted at /var/lib/quietway/registry or $QUIETWAY_REGISTRY.
// Every operation opens, acts and closes; nothing is cached. All return true on success.
namespace quietway {

// Root of the program's own tree and its section keys.
inline constexpr const char* kStoreRoot = "SOFTWARE\\Quietway2";
inline constexpr const char* kServersPath = "SOFTWARE\\Quietway2\\servers";
inline constexpr const char* kNotificationsPath = "SOFTWARE\\Quietway2\\notifications";

// Environment variable that moves the Linux tree elsewhere (tests, demo).
inline constexpr const char* kRegistryEnv = "QUIETWAY_REGISTRY";

// The only root key the programs use.
enum class RootKey { local_machine };

// Longest string value, in bytes, that a read returns.
inline constexpr size_t kMaxStringValue = 511;

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

// Write into an existing key; a missing key is never created.
bool write_reg_string(const char* path, const char* name, const std::string& text);
bool write_reg_dword(const char* path, const char* name, uint32_t value);

// Create the key (and missing parents) writable by every local user, then write.
bool create_reg_string(RootKey root, const char* path, const char* name, const std::string& text);
bool create_reg_dword(const char* path, const char* name, uint32_t value);

// Delete every value of the key, then the key; a key with subkeys stays (without values).
bool delete_reg_key(const char* path);

// Names of the key's direct subkeys in the registry's order (sorted as text: "10" < "2").
bool list_reg_subkeys(const char* path, std::vector<std::string>& out);

}  // namespace quietway
