#include "firewall/filter_set/tun_adapters_posix.h"

#include <linux/ethtool.h>
#include <linux/sockios.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/log/rotating_log.h"

namespace quietway {
namespace {

class Socket {
public:
    Socket() : fd_(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {}
    ~Socket() {
        if (fd_ >= 0) close(fd_);
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    int fd() const { return fd_; }

private:
    int fd_;
};

class InterfaceList {
public:
    InterfaceList() : list_(if_nameindex()) {}
    ~InterfaceList() {
        if (list_ != nullptr) if_freenameindex(list_);
    }
    InterfaceList(const InterfaceList&) = delete;
    InterfaceList& operator=(const InterfaceList&) = delete;
    const struct if_nameindex* get() const { return list_; }

private:
    struct if_nameindex* list_;
};

// The tun driver serves both tun and tap devices.
bool is_tun_device(int fd, const char* name) {
    ethtool_drvinfo info{};
    info.cmd = ETHTOOL_GDRVINFO;
    ifreq request{};
    std::strncpy(request.ifr_name, name, IFNAMSIZ - 1);
    request.ifr_data = reinterpret_cast<char*>(&info);
    if (ioctl(fd, SIOCETHTOOL, &request) != 0) return false;
    return std::strncmp(info.driver, "tun", sizeof info.driver) == 0;
}

}  // namespace

bool find_tun_adapters(std::vector<uint64_t>& indexes) {
    errno = 0;
    InterfaceList interfaces;
    if (interfaces.get() == nullptr) {
        const int error = errno;
        log("if_nameindex failed with error: %d\n", error);
        return error != ENOMEM && error != ENOBUFS;
    }
    Socket query;
    if (query.fd() < 0) {
        log("socket failed with error: %d\n", errno);
        return true;
    }
    for (const struct if_nameindex* item = interfaces.get(); item->if_index != 0; ++item) {
        if (is_tun_device(query.fd(), item->if_name)) indexes.push_back(item->if_index);
    }
    return true;
}

}  // namespace quietway
