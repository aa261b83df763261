#pragma once

#include <json/value.h>

#include <cstdint>
#include <string>
#include <string_view>

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

// A dotted IPv4 address as `address_ip` holds it and the VPN configuration receives it: four
// decimal parts from 0 to 255, without sign, blank, leading zero (some parsers read it as
// octal) or anything before or after.
bool is_dotted_ipv4(std::string_view text);

// What `address_ip` may hold: a dotted IPv4 address, or "" while none is known.
bool is_server_ip(std::string_view text);

// An address starting with a digit is used as the server's address_ip as written, so it must
// be a dotted IPv4 address; any other text is a host name (checked where it is used).
bool is_server_address(std::string_view address);

// Control API: `params` is a JSON object; members are taken as text, a missing one as "".
// Takes number `last_index` + 1 (written back first) and creates the entry with status 0.
// An address that is_server_address refuses is refused, as are texts the store cannot hold.
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
// Writes the four values into the existing entry, stopping at the first failure. A record
// whose address_ip is_server_ip refuses is refused whole (with a log line), here and below.
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
