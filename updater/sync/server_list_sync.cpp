#include <tinyxml2.h>

#include <cstdint>
#include <limits>
#include <string>

#include "common/log/rotating_log.h"
#include "common/privacy/privacy_status.h"
#include "common/store/server_store.h"
#include "common/store/store.h"
#include "common/store/store_limits.h"
#include "updater/sync/sync_documents.h"

namespace quietway {
namespace {

std::string child_text(const tinyxml2::XMLElement* parent, const char* name) {
    std::string text;
    element_text(parent, name, text);
    return text;
}

bool privacy_off() {
    uint32_t value = 0;
    get_setting_dword("app", "privacy_status", value);
    const auto status = static_cast<int32_t>(value);
    return status == kPrivacyNone || status == kPrivacyStopped;
}

// One SERVER element whose number and texts the store can hold.
struct ListedServer {
    std::string number;  // canonical decimal text: the subkey name
    ServerRecord record;
};

bool read_listed_server(const tinyxml2::XMLElement* element, ListedServer& out) {
    uint32_t number = 0;
    if (!positive_decimal(child_text(element, "NUMBER"),
                          static_cast<uint32_t>(std::numeric_limits<int32_t>::max()), number,
                          out.number)) {
        return false;
    }
    out.record = ServerRecord{};
    out.record.id = static_cast<int32_t>(number);
    out.record.name = child_text(element, "NAME");
    out.record.address = child_text(element, "ADDRESS");
    out.record.address_ip = child_text(element, "IP");
    // A text the store refuses would be "added" again on every run, each ending the engine.
    return out.record.name.size() <= kMaxStringValue &&
           out.record.address.size() <= kMaxStringValue;
}

// Adds or updates one listed server; true when it differs from the store.
bool merge_server(ListedServer& listed, bool can_write) {
    ServerRecord stored;
    if (read_server(listed.number, stored)) {
        if (stored.name == listed.record.name && stored.address == listed.record.address) {
            return false;
        }
        if (can_write) {
            stored.name = listed.record.name;
            stored.address = listed.record.address;
            // One that an older version stored unchecked would have the whole write refused.
            if (!is_server_ip(stored.address_ip)) stored.address_ip.clear();
            stored.status = kServerInitial;
            write_server(listed.number, stored);
            program_log().log("update server: %s", listed.number.c_str());
        }
        return true;
    }
    if (can_write) {
        listed.record.status = kServerInitial;
        // The address goes into the VPN configuration: anything else is dropped, never stored.
        if (!is_server_ip(listed.record.address_ip)) {
            program_log().log("server %s: IP is not a dotted IPv4 address, not stored",
                              listed.number.c_str());
            listed.record.address_ip.clear();
        }
        create_server(listed.record);
        program_log().log("add server: %s", listed.number.c_str());
    }
    return true;
}

}  // namespace

bool apply_server_list(std::string_view document, const std::function<void()>& end_engine) {
    const bool can_write = privacy_off();
    tinyxml2::XMLDocument xml;
    if (holds_nul_reference(document)) return false;
    if (xml.Parse(document.data(), document.size()) != tinyxml2::XML_SUCCESS) return false;
    const tinyxml2::XMLElement* root = xml.FirstChildElement("QUIETWAY");
    if (!root) return false;

    uint32_t old_count = 0;
    if (!read_reg_dword(kServersPath, "last_index", old_count)) return false;

    bool changed = false;
    uint32_t seen = 0;
    ListedServer listed;
    for (const tinyxml2::XMLElement* element = root->FirstChildElement("SERVER"); element;
         element = element->NextSiblingElement("SERVER")) {
        // Every element holds its list position, also one that is skipped below.
        ++seen;
        if (read_listed_server(element, listed) && merge_server(listed, can_write)) {
            changed = true;
        }
    }

    const bool deletions = seen < old_count;
    for (uint32_t last = old_count; seen < last; --last) {
        if (!can_write) continue;
        const std::string number = std::to_string(last);
        std::string path;
        if (server_key_path(number, path)) delete_reg_key(path.c_str());
        program_log().log("delete server: %s", number.c_str());
    }
    if (!deletions && !changed) return false;

    if (!can_write) {
        program_log().log("Can't update list of servers. Privacy is ON!");
        return false;
    }
    uint32_t activated = 0;
    if (!write_reg_dword(kServersPath, "last_index", seen) ||
        !read_reg_dword(kServersPath, "activated", activated)) {
        return false;
    }
    if (activated > seen) set_activated(1);
    set_setting_dword("app", "need_update_servers", 1);
    if (end_engine) end_engine();
    return true;
}

}  // namespace quietway
