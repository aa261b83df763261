#pragma once

#include <json/value.h>

#include <cstdint>
#include <string>

// The server list below "SOFTWARE\\Quietway2\\servers": the counters `last_index` and
// `activated` and one subkey per server, named by its number in decimal. Every operation
// returns true on success.
namespace quietway {

// Server status values.
inline constexpr uint32_t kServerInitial = 0;
inline constexpr uint32_t kServerReady = 1;
inline constexpr uint32_t kServerFailed = 2;

// Capacity of a server key's full path, terminator included.
inline constexpr size_t kServerPathCapacity = 128;

struct ServerRecord {
    int32_t id = 0;
    std::string name;
    std::string address;
    std::string address_ip;
    uint32_t status = 0;
};

// Control API: `params` is a JSON object; members are taken as text, a missing one as "".
// Takes number `last_index` + 1 (written back first) and creates the entry with status 0.
bool add_server_entry(const Json::Value& params);
// Writes `address`, then `name`, into the existing entry named by member `id`.
bool update_server_entry(const Json::Value& params);
// Deletes the entry's key; `last_index` and `activated` stay as they are.
bool delete_server_entry(const std::string& number);

// The control API's "servers" array: address, name, status text, id and activated flag per
// entry, in the store's order ("10" before "2"). Fails when the list or `activated` cannot
// be read.
bool list_servers_json(Json::Value& out);

// Reads address, address_ip, name and status of the entry; fails at the first missing value.
// Only the four values are filled: `out.id` is the caller's.
bool read_server(const std::string& number, ServerRecord& out);
// Writes the four values into the existing entry, stopping at the first failure.
bool write_server(const std::string& number, const ServerRecord& server);
// Sets `last_index` to the record's id, then creates the entry open to every local user.
bool create_server(const ServerRecord& server);
bool set_server_status(const std::string& number, uint32_t status);

bool set_activated(uint32_t number);
bool clear_activated();

// Full key path of the entry `number`; false when the number is not a single key name or the
// path does not fit kServerPathCapacity.
bool server_key_path(const std::string& number, std::string& path);

}  // namespace quietway
