#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "common/store/server_store.h"

namespace quietway {

class HostKeyPass;
class ServersManager;

// Prepares servers of the list with the servers manager's directories, ports and account: it
// empties a server's directory, fetches the four key files over FTPS with curl, writes
// "auth.cfg" and "vpn_conf.ovpn", has plink record the SSH host key and sets the server's
// status, for several servers at once. It reads the manager and changes nothing of it.
class ServerProvisioner {
public:
    // Servers prepared at the same time.
    static constexpr size_t kParallelServers = 8;

    struct Account {
        const std::string& user;
        const std::string& password;
    };

    explicit ServerProvisioner(const ServersManager& manager) : manager_(manager) {}

    // Empties the server directory and sets status 0.
    bool reset_server(const std::string& id) const;
    // Are the four fetched files present? Creates a missing server directory.
    bool check_files(const std::string& id, const std::string& user) const;
    // One server's preparation on its own work record, so that several can run at once; its
    // status ends as 1 (true) or 2 (false). Servers of one `pass` record each host key once.
    bool provision(const std::string& id, const Account& account, ServerRecord& work,
                   HostKeyPass* pass = nullptr) const;
    // Fetches the four files for the record's server with one curl run where it can.
    bool download(const std::string& id, const Account& account, const ServerRecord& work) const;
    // Writes "auth.cfg" and "vpn_conf.ovpn" for the record's server.
    bool write_files(const std::string& id, const Account& account, const ServerRecord& work) const;
    // Resets and provisions each id, at most kParallelServers at a time; the result per id.
    std::vector<bool> prepare_all(const std::vector<std::string>& ids, const char* operation,
                                  const Account& account) const;

private:
    // Runs one curl for files[first..] over one connection; marks each file it reports on in
    // `fetched` and returns the index after the last file it tried.
    size_t fetch(const std::string& id, const Account& account, const ServerRecord& work,
                 const std::vector<std::string>& files, size_t first,
                 std::vector<bool>& fetched) const;
    bool record_host_key(const std::string& id, const Account& account, const ServerRecord& work,
                         HostKeyPass& pass) const;

    const ServersManager& manager_;
};

}  // namespace quietway
