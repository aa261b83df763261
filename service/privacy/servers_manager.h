#pragma once

#include <cstdint>
#include <string>

#include "common/store/server_store.h"

namespace quietway {

// The service's view of the VPN account and of the active server: it holds the account, the
// ports, the directories and the active server, and chooses the active one. Preparing servers
// is left to ServerProvisioner; apply_account and update_servers have it prepare several at
// once. Calls are serialised by the application.
class ServersManager {
public:
    // Loads the settings and builds the directories.
    bool init();

    // Makes the ready server `id` the active one.
    bool select(const std::string& id);
    // Drops the active server.
    bool clear();
    // This manager with the active server loaded, or nullptr when none is active.
    ServersManager* active_server();

    // Stores the account and prepares every server; the first ready one becomes active.
    bool apply_account(const std::string& user, const std::string& password);
    // Prepares every server whose status is 0; selects nothing.
    bool update_servers();
    // Moves to the next ready server after the active one, wrapping around.
    bool change_server();

    // Empties the server directory and sets status 0.
    bool reset_server(const std::string& id) const;
    // Prepares one server; its status ends as 1 (true) or 2 (false).
    bool provision_server(const std::string& id, const std::string& user,
                          const std::string& password);
    // Are the four fetched files present? Creates a missing server directory.
    bool check_files(const std::string& id, const std::string& user) const;
    // Fetches the four files for the work record's server with the manager's account.
    bool download_files(const std::string& id);
    // Writes "auth.cfg" and "vpn_conf.ovpn" for the work record's server.
    bool write_config(const std::string& id);

    const std::string& name() const { return name_; }
    const std::string& address() const { return address_; }
    const std::string& ip() const { return ip_; }
    const std::string& user() const { return user_; }
    const std::string& password() const { return password_; }
    const std::string& active_id() const { return active_id_; }
    const std::string& ftp_port() const { return ftp_port_; }
    const std::string& vpn_port() const { return vpn_port_; }
    const std::string& proxy_port() const { return proxy_port_; }
    const std::string& ssh_port() const { return ssh_port_; }
    const std::string& tor_port() const { return tor_port_; }
    const std::string& app_dir() const { return app_dir_; }
    const std::string& app_data() const { return app_data_; }
    const std::string& bin_dir() const { return bin_dir_; }
    const std::string& conf_dir() const { return conf_dir_; }
    const ServerRecord& work_record() const { return work_; }
    int32_t active_index() const { return active_index_; }
    bool loaded() const { return loaded_; }
    // Whether init found (or made) the conf directory private: servers are only prepared then.
    bool conf_private() const { return conf_private_; }

    // The server directory of `id`: the conf dir followed by the id, no trailing separator.
    std::string server_dir(const std::string& id) const { return conf_dir_ + id; }

private:
    std::string name_;
    std::string address_;
    std::string ip_;
    std::string user_;
    std::string password_;
    std::string active_id_ = "0";
    std::string ftp_port_;
    std::string vpn_port_;
    std::string proxy_port_;
    std::string ssh_port_;
    std::string tor_port_;
    std::string app_dir_;
    std::string app_data_;
    std::string bin_dir_;
    std::string conf_dir_;
    ServerRecord work_;
    int32_t active_index_ = 0;
    bool loaded_ = false;
    bool conf_private_ = false;
};

// The number a server's id names (its decimal value).
int32_t index_of(const std::string& id);

// Resolves a record's address into its address_ip: an address starting with a decimal digit
// is taken as written (callers check it is a dotted address); a host name is looked up and a
// failed lookup keeps the stored value; other text is not looked up.
void resolve_server_address(ServerRecord& record);

}  // namespace quietway
