#include <limits>
#include <string>
#include <vector>

#include "common/log/rotating_log.h"
#include "common/store/json_text.h"
#include "common/store/record_text.h"
#include "common/store/server_store.h"
#include "common/store/store.h"

namespace quietway {

namespace {

using record_text::member_text;

constexpr const char* kLastIndex = "last_index";
constexpr const char* kActivated = "activated";

const char* status_text(uint32_t status) {
    switch (status) {
        case kServerInitial:
            return "initial";
        case kServerReady:
            return "ready";
        case kServerFailed:
            return "failed";
        default:
            return nullptr;
    }
}

// Checked before anything is written, so that a refused text leaves the entry as it was.
bool server_texts_fit(const std::string& number, const ServerRecord& server) {
    if (!is_server_ip(server.address_ip)) {
        log("server %s: address_ip refused, it is not a dotted IPv4 address", number.c_str());
        return false;
    }
    return string_value_fits("address", server.address) &&
           string_value_fits("address_ip", server.address_ip) &&
           string_value_fits("name", server.name);
}

Json::Value server_json(const std::string& number, uint32_t activated) {
    const std::string path = std::string(kServersPath) + "\\" + number;
    std::string address;
    std::string name;
    uint32_t status = 0;
    read_reg_values(path.c_str(),
                    {{"address", &address}, {"name", &name}, {"status", nullptr, &status}});

    const int32_t id = record_text::decimal_number(number);
    Json::Value entry(Json::objectValue);
    entry["address"] = valid_utf8(address);
    entry["name"] = valid_utf8(name);
    if (const char* text = status_text(status)) entry["status"] = text;
    entry["id"] = id;
    // Number 0 means "none", so it never marks an entry.
    const bool is_activated = activated != 0 && static_cast<int64_t>(id) == activated;
    entry["activated"] = is_activated ? 1 : 0;
    return entry;
}

// One part of a dotted address: 1 to 3 digits, no leading zero, at most 255.
bool is_address_part(std::string_view part) {
    if (part.empty() || part.size() > 3 || (part.size() > 1 && part[0] == '0')) return false;
    unsigned value = 0;
    for (const char c : part) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    return value <= 255;
}

bool starts_with_digit(std::string_view text) {
    return !text.empty() && text[0] >= '0' && text[0] <= '9';
}

}  // namespace

bool is_dotted_ipv4(std::string_view text) {
    for (int part = 0; part < 4; ++part) {
        const size_t dot = text.find('.');
        if ((dot == std::string_view::npos) != (part == 3)) return false;
        if (!is_address_part(text.substr(0, dot))) return false;
        text.remove_prefix(part == 3 ? text.size() : dot + 1);
    }
    return true;
}

bool is_server_ip(std::string_view text) { return text.empty() || is_dotted_ipv4(text); }

bool is_server_address(std::string_view address) {
    return !starts_with_digit(address) || is_dotted_ipv4(address);
}

bool server_key_path(const std::string& number, std::string& path) {
    return record_text::child_key_path(kServersPath, number, kServerPathCapacity, path);
}

bool add_server_entry(const Json::Value& params) {
    std::string address;
    std::string name;
    if (!member_text(params, "address", address) || !member_text(params, "name", name) ||
        !string_value_fits("address", address) || !string_value_fits("name", name) ||
        !is_server_address(address))
        return false;
    uint32_t last_index = 0;
    if (!read_reg_dword(kServersPath, kLastIndex, last_index)) return false;
    if (last_index >= static_cast<uint32_t>(std::numeric_limits<int32_t>::max())) return false;
    const uint32_t number = last_index + 1;
    // The number is taken before the entry exists: a failure below leaves a gap.
    if (!write_reg_dword(kServersPath, kLastIndex, number)) return false;

    std::string path;
    return server_key_path(std::to_string(number), path) &&
           create_reg_string(RootKey::local_machine, path.c_str(), "address", address) &&
           create_reg_string(RootKey::local_machine, path.c_str(), "address_ip", "") &&
           create_reg_string(RootKey::local_machine, path.c_str(), "name", name) &&
           create_reg_dword(path.c_str(), "status", kServerInitial);
}

bool update_server_entry(const Json::Value& params) {
    std::string id;
    std::string address;
    std::string name;
    if (!member_text(params, "id", id) || !member_text(params, "address", address) ||
        !member_text(params, "name", name) || !string_value_fits("address", address) ||
        !string_value_fits("name", name) || !is_server_address(address))
        return false;
    std::string path;
    if (!server_key_path(id, path)) return false;
    write_reg_string(path.c_str(), "address", address);
    return write_reg_string(path.c_str(), "name", name);
}

bool delete_server_entry(const std::string& number) {
    std::string path;
    return server_key_path(number, path) && delete_reg_key(path.c_str());
}

bool list_servers_json(Json::Value& out) {
    std::vector<std::string> numbers;
    uint32_t activated = 0;
    if (!list_reg_subkeys(kServersPath, numbers) ||
        !read_reg_dword(kServersPath, kActivated, activated))
        return false;
    Json::Value servers(Json::arrayValue);
    for (const std::string& number : numbers) servers.append(server_json(number, activated));
    out = std::move(servers);
    return true;
}

bool read_server(const std::string& number, ServerRecord& out) {
    std::string path;
    ServerRecord server;
    if (!server_key_path(number, path) ||
        !read_reg_string(path.c_str(), "address", server.address) ||
        !read_reg_string(path.c_str(), "address_ip", server.address_ip) ||
        !read_reg_string(path.c_str(), "name", server.name) ||
        !read_reg_dword(path.c_str(), "status", server.status))
        return false;
    out.address = std::move(server.address);
    out.address_ip = std::move(server.address_ip);
    out.name = std::move(server.name);
    out.status = server.status;
    return true;
}

bool write_server(const std::string& number, const ServerRecord& server) {
    std::string path;
    return server_key_path(number, path) && server_texts_fit(number, server) &&
           write_reg_string(path.c_str(), "address", server.address) &&
           write_reg_string(path.c_str(), "address_ip", server.address_ip) &&
           write_reg_string(path.c_str(), "name", server.name) &&
           write_reg_dword(path.c_str(), "status", server.status);
}

bool create_server(const ServerRecord& server) {
    // Numbers start at 1; writing 0 or less into last_index would break the numbering.
    if (server.id <= 0) {
        log("invalid server number: %d", server.id);
        return false;
    }
    const std::string number = std::to_string(server.id);
    std::string path;
    return server_key_path(number, path) && server_texts_fit(number, server) &&
           write_reg_dword(kServersPath, kLastIndex, static_cast<uint32_t>(server.id)) &&
           create_reg_string(RootKey::local_machine, path.c_str(), "address", server.address) &&
           create_reg_string(RootKey::local_machine, path.c_str(), "address_ip",
                             server.address_ip) &&
           create_reg_string(RootKey::local_machine, path.c_str(), "name", server.name) &&
           create_reg_dword(path.c_str(), "status", server.status);
}

bool set_server_status(const std::string& number, uint32_t status) {
    std::string path;
    return server_key_path(number, path) && write_reg_dword(path.c_str(), "status", status);
}

bool set_activated(uint32_t number) { return write_reg_dword(kServersPath, kActivated, number); }

bool clear_activated() { return set_activated(0); }

}  // namespace quietway
