#include "firewall/program/firewall_app.h"

#include <algorithm>
#include <charconv>
#include <string>
#include <vector>

#include "common/log/rotating_log.h"
#include "common/store/store.h"

namespace quietway {
namespace {

// The numbers of the existing server subkeys from 1 to `last_index`, ascending. Listing the
// subkeys instead of trying every number keeps a damaged `last_index` (up to 2^32 - 1) from
// turning into billions of store reads; the servers found are the same.
std::vector<uint32_t> listed_server_numbers(uint32_t last_index) {
    std::vector<std::string> names;
    std::vector<uint32_t> numbers;
    if (!list_reg_subkeys(kServersPath, names)) return numbers;
    for (const std::string& name : names) {
        uint32_t number = 0;
        const char* end = name.data() + name.size();
        const auto [stop, error] = std::from_chars(name.data(), end, number);
        // Only the canonical decimal form names a server ("7", never "07" or "7a").
        if (error != std::errc() || stop != end || name[0] == '0') continue;
        if (number >= 1 && number <= last_index) numbers.push_back(number);
    }
    std::sort(numbers.begin(), numbers.end());
    return numbers;
}

void add_server_permits(WfpFirewall& firewall, uint32_t last_index) {
    for (uint32_t number : listed_server_numbers(last_index)) {
        const std::string path = std::string(kServersPath) + "\\" + std::to_string(number);
        std::string address_ip;
        if (!read_reg_string(path.c_str(), "address_ip", address_ip)) continue;
        log("Server ip = %s", address_ip.c_str());
        if (!address_ip.empty()) firewall.AddPermitIP(address_ip.c_str(), kPermitRemoteAddress);
    }
}

}  // namespace

int run_firewall_app(const std::function<std::unique_ptr<WfpFirewall>()>& make_firewall,
                     const std::function<void()>& wait_for_stop) {
    log("Start:: FirewallApp");
    uint32_t last_index = 0;
    if (!read_reg_dword(kServersPath, "last_index", last_index)) {
        log("Can't get last index of server");
        return 0;
    }
    log("Last index of server = %d", static_cast<int>(last_index));
    if (last_index == 0) return 0;

    std::unique_ptr<WfpFirewall> firewall = make_firewall();
    if (!firewall->InitFirewall()) {
        log("init firewall failed");
        return 0;
    }
    add_server_permits(*firewall, last_index);
    firewall->AddPermitIP("127.0.0.1", kPermitLocalAddress);
    firewall->AddPermitIP("10.0.0.1", kPermitRemoteAddress);

    if (firewall->StartFirewall()) {
        log("Firewall started successfully...");
    } else {
        // The start's own status: the thread's last error has been overwritten by then.
        log("Error starting firewall. GetLastError() 0x%X", firewall->start_status());
    }
    wait_for_stop();
    firewall.reset();  // removes filters, sublayer and engine
    return 0;
}

}  // namespace quietway
