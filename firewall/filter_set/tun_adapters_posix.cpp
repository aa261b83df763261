#include "firewall/filter_set/tun_adapters_posix.h"

#include <linux/ethtool.h>
#include <linux/sockios.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "common/log/rotating_log.h"
#include "common/os/unique_fd.h"
#include "firewall/filter_set/vpn_device.h"

namespace quietway {
namespace {

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

uint32_t find_vpn_device(std::vector<uint64_t>& indexes) {
    errno = 0;
    const unsigned index = if_nametoindex(kVpnDeviceName);
    if (index == 0) {
        const int error = errno;
        if (error == ENOMEM || error == ENOBUFS) {
            log("if_nametoindex failed with error: %d\n", error);
            return static_cast<uint32_t>(error);
        }
        return 0;
    }
    const UniqueFd query(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!query.valid()) {
        const int error = errno;
        log("socket failed with error: %d\n", error);
        return error == ENOMEM || error == ENOBUFS ? static_cast<uint32_t>(error) : 0;
    }
    // A device of another kind under our name is not our tunnel.
    if (is_tun_device(query.get(), kVpnDeviceName)) indexes.push_back(index);
    return 0;
}

}  // namespace quietway
