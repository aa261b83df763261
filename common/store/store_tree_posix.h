#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/os/unique_fd.h"

// The Linux settings tree: one directory per key, one file per value. Key directories carry
// the key's name; value files carry "@" and the value's name ("@" alone is the default
// value). Names are matched case-insensitively and keep the case they were created with;
// bytes that cannot stand in a file name are written as %XX. Everything below the root is
// reached through directory descriptors and never through a symbolic link, because keys open
// to every local user are written by root.
namespace quietway::store_tree {

// --- names (store_names_posix.cpp) ---

// Longest key name the registry allows, in bytes.
inline constexpr size_t kMaxKeyName = 255;

std::string key_entry_name(std::string_view key_name);
std::string value_entry_name(std::string_view value_name);
// Reverse of the above; false for entries that are not a key (or value) in canonical form.
bool decode_key_entry(std::string_view entry, std::string& key_name);
bool decode_value_entry(std::string_view entry, std::string& value_name);
// Entries that a writer leaves behind only while it writes (or when it crashed).
bool is_temporary_entry(std::string_view entry);

bool same_name(std::string_view a, std::string_view b);
// The registry's order: case-insensitive, by upper-case byte values.
bool name_before(std::string_view a, std::string_view b);

// Splits "A\\B\\C" into its names; "" is the root. False for an empty name, a name whose
// entry would not fit in a directory, or a path deeper than kMaxKeyDepth.
bool split_path(const char* path, std::vector<std::string>& names);

// --- keys (store_tree_posix.cpp) ---

std::string root_directory();

// Opens the key's directory; invalid when it is missing or cannot be opened. `entries`, when
// given, receives the directory's path below the root as its entries are named.
UniqueFd open_key(const std::vector<std::string>& names, std::string* entries = nullptr);
UniqueFd open_key(const char* path);
// Opens the key, creating it and its missing parents: those at or below the notifications
// key open to every user, all others writable by root only.
UniqueFd make_key(const char* path);

// Finds the subkey `name` of an open key; `entry` receives its directory entry name.
UniqueFd open_subkey(int parent, std::string_view name, std::string* entry = nullptr);

// A key opened together with its parent, for removing the key's own directory entry.
struct KeyInParent {
    UniqueFd parent;
    UniqueFd key;
    std::string entry;  // the key's directory entry name in `parent`
};

// Opens the key of `path` and its parent; false when either is missing or the path names the
// root itself.
bool open_key_in_parent(const char* path, KeyInParent& out);

// Calls `visit(entry, is_directory)` for every entry of an open key except "." and "..";
// stops early when `visit` returns false.
bool for_each_entry(int key, const std::function<bool(const std::string&, bool)>& visit);

// Names of the key's subkeys, sorted like the registry.
bool list_subkeys(int key, std::vector<std::string>& names);

// Removes the key's values and leftover temporary files.
bool remove_values(int key);

// --- values (store_value_file_posix.cpp) ---

struct ValueData {
    uint32_t type = 0;
    std::string data;
};

// Finds the value's file case-insensitively; false when missing.
bool find_value_entry(int key, std::string_view name, std::string& entry);
// Reads a value whose data is at most `limit` bytes; false when missing, malformed or longer.
bool read_value(int key, std::string_view name, size_t limit, ValueData& out);
bool read_value_entry(int key, const std::string& entry, size_t limit, ValueData& out);
// Replaces the value atomically; the file gets the key's permissions without execute bits,
// or 0600 for a secret value (is_secret_value).
bool write_value(int key, std::string_view name, uint32_t type, std::string_view data,
                 bool secret = false);

// The account and API passwords: readable by root only, though their keys are readable by
// every user (the tray reads the values beside them, never these).
bool is_secret_value(std::string_view key_path, std::string_view name);

// --- snapshots (store_snapshot_posix.cpp) ---

// A key's values and subkey names as read at one moment. Every value is whole: each was
// read from one file, and a file is only ever replaced by a rename.
struct KeySnapshot {
    std::vector<std::string> subkeys;                       // sorted like the registry
    std::vector<std::pair<std::string, ValueData>> values;  // names as stored
    const ValueData* find(std::string_view name) const;
};

// The key's snapshot: the one kept from an earlier call while the key's directory has not
// changed since (a value write renames a file into it), else one read now. Keys open to
// every user are read anew each time. nullptr when the key cannot be opened or listed.
std::shared_ptr<const KeySnapshot> snapshot_key(const char* path);

}  // namespace quietway::store_tree
