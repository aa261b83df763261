#pragma once

#include <vector>

#include "service/dns/pushed_dns_posix.h"

struct sd_bus;

// systemd-resolved over the system bus: the tunnel device gets the pushed servers, the
// catch-all routing domain "~." (every name is asked there) and the default route.
namespace quietway::dns {

class ResolvedBus {
public:
    ResolvedBus() = default;
    ~ResolvedBus();
    ResolvedBus(const ResolvedBus&) = delete;
    ResolvedBus& operator=(const ResolvedBus&) = delete;

    // Whether systemd-resolved runs: the system bus answers and its name has an owner. A
    // machine without either is not one to start it on.
    bool running();

    // All three settings, or (reported) false.
    bool set_link(int index, const std::vector<DnsServer>& servers);
    // Drops every setting made for the link.
    bool revert_link(int index);

private:
    bool connect();

    sd_bus* bus_ = nullptr;
};

}  // namespace quietway::dns
