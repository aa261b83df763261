#include "service/privacy/servers_manager.h"

#include <cctype>
#include <cstdlib>

#include "common/log/rotating_log.h"
#include "common/store/store.h"
#include "common/store/store_limits.h"
#include "service/privacy/data_dir_acl.h"
#include "service/privacy/provision_platform.h"
#include "service/privacy/provision_text.h"
#include "service/privacy/server_provisioner.h"

namespace quietway {

int32_t index_of(const std::string& id) {
    return static_cast<int32_t>(std::strtol(id.c_str(), nullptr, 10));
}

void resolve_server_address(ServerRecord& record) {
    if (!record.address.empty() && std::isdigit(static_cast<unsigned char>(record.address[0]))) {
        record.address_ip = record.address;
        return;
    }
    // Text that cannot be a host name is not handed to the resolver.
    std::string ip;
    if (is_host_text(record.address) && resolve_ipv4(record.address, ip)) record.address_ip = ip;
}

bool ServersManager::init() {
    uint32_t activated = 0;
    if (!get_setting_string("app", "app_dir", app_dir_) ||
        !get_setting_string("app", "app_data", app_data_) ||
        !get_setting_string("conf", "ftp_port", ftp_port_) ||
        !get_setting_string("conf", "vpn_port", vpn_port_) ||
        !get_setting_string("conf", "proxy_port", proxy_port_) ||
        !get_setting_string("conf", "ssh_port", ssh_port_) ||
        !get_setting_string("conf", "tor_port", tor_port_) ||
        !get_setting_string("general", "user", user_) ||
        !get_setting_string("general", "password", password_) ||
        !get_setting_dword("servers", "activated", activated)) {
        return false;
    }
    active_index_ = static_cast<int32_t>(activated);
    const std::string sep(1, path_separator());
    bin_dir_ = app_dir_ + sep + "bin" + sep;
    conf_dir_ = app_data_ + sep + "conf" + sep;
    // Checked (and closed if need be) at every start; servers are not prepared in an open one.
    conf_private_ = secure_data_directory(app_data_ + sep + "conf");
    return true;
}

bool ServersManager::select(const std::string& id) {
    ServerRecord record;
    if (!read_server(id, record) || record.status != kServerReady) return false;
    record.id = index_of(id);
    resolve_server_address(record);
    if (!is_dotted_ipv4(record.address_ip)) {
        log("select %s: no dotted IPv4 address to connect to", id.c_str());
        return false;
    }
    write_server(id, record);
    work_ = record;
    name_ = record.name;
    address_ = record.address;
    ip_ = record.address_ip;
    active_id_ = id;
    loaded_ = true;
    active_index_ = record.id;
    set_activated(static_cast<uint32_t>(active_index_));
    return true;
}

bool ServersManager::clear() {
    active_index_ = 0;
    const bool written = clear_activated();
    name_.clear();
    address_.clear();
    // Not the bare literal: g++ 12 wrongly warns (-Wrestrict) about assigning it here.
    active_id_ = std::string("0");
    loaded_ = false;
    return written;
}

ServersManager* ServersManager::active_server() {
    if (active_index_ == 0) return nullptr;
    if (!loaded_) {
        const std::string id = std::to_string(active_index_);
        ServerRecord record;
        if (!read_server(id, record)) return nullptr;
        name_ = record.name;
        address_ = record.address;
        ip_ = record.address_ip;
        active_id_ = id;
        loaded_ = true;
    }
    return this;
}

bool ServersManager::apply_account(const std::string& user, const std::string& password) {
    // Both are checked first, so a refused one never leaves the other stored alone.
    if (!string_value_fits("user", user) || !string_value_fits("password", password)) return false;
    // The name goes into lines of the configuration and the credentials file.
    if (!is_one_line(user)) {
        log("apply_account: a user name with a line break is refused");
        return false;
    }
    // Also drops the manager's own copy, so a session cannot start on a server just reset.
    const bool cleared = clear();
    std::vector<std::string> ids;
    const bool listed = list_reg_subkeys(kServersPath, ids);
    const bool user_stored = set_setting_string("general", "user", user);
    const bool password_stored = set_setting_string("general", "password", password);
    if (!cleared || !listed || !user_stored || !password_stored) return false;
    user_ = user;
    password_ = password;
    const std::vector<bool> ready =
        ServerProvisioner(*this).prepare_all(ids, "apply_account", {user_, password_});
    // The first ready server in list order, as if they had been prepared one after another.
    for (size_t i = 0; i < ids.size(); ++i) {
        if (ready[i] && select(ids[i])) break;
    }
    return true;
}

bool ServersManager::update_servers() {
    std::vector<std::string> ids;
    std::string user;
    std::string password;
    if (!list_reg_subkeys(kServersPath, ids) || !get_setting_string("general", "user", user) ||
        !get_setting_string("general", "password", password)) {
        return false;
    }
    std::vector<std::string> initial;
    for (const std::string& id : ids) {
        std::string path;
        uint32_t status = kServerReady;
        if (server_key_path(id, path) && read_reg_dword(path.c_str(), "status", status) &&
            status == kServerInitial) {
            initial.push_back(id);
        }
    }
    user_ = user;
    password_ = password;
    ServerProvisioner(*this).prepare_all(initial, "update_servers", {user_, password_});
    return true;
}

bool ServersManager::change_server() {
    std::vector<std::string> ids;
    if (!list_reg_subkeys(kServersPath, ids)) return false;
    if (ids.size() <= 1) return true;
    const int32_t previous = active_index_;
    clear();
    for (const std::string& id : ids) {
        if (index_of(id) > previous && select(id)) return true;
    }
    for (const std::string& id : ids) {
        if (index_of(id) <= previous && select(id)) return true;
    }
    return false;
}

bool ServersManager::reset_server(const std::string& id) const {
    return ServerProvisioner(*this).reset_server(id);
}

bool ServersManager::provision_server(const std::string& id, const std::string& user,
                                      const std::string& password) {
    ServerRecord probe;
    if (!read_server(id, probe)) return false;
    user_ = user;
    password_ = password;
    return ServerProvisioner(*this).provision(id, {user_, password_}, work_);
}

bool ServersManager::check_files(const std::string& id, const std::string& user) const {
    return ServerProvisioner(*this).check_files(id, user);
}

bool ServersManager::download_files(const std::string& id) {
    return ServerProvisioner(*this).download(id, {user_, password_}, work_);
}

bool ServersManager::write_config(const std::string& id) {
    return ServerProvisioner(*this).write_files(id, {user_, password_}, work_);
}

}  // namespace quietway
