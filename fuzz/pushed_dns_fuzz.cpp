// What a VPN server pushes, as OpenVPN hands it to quietway_dns: lines become foreign_option_1,
// foreign_option_2, ... Whatever they hold, at most three servers come out, each a plain
// unicast address in a canonical text that reads back to the same address.
#include <arpa/inet.h>

#include <algorithm>
#include <string>
#include <vector>

#include "fuzz/fuzz_environment.h"
#include "service/dns/pushed_dns_posix.h"

namespace {

using namespace quietway;

const char* option(const std::vector<std::string>& options, const std::string& name) {
    const std::string prefix = "foreign_option_";
    if (name.rfind(prefix, 0) != 0) return nullptr;
    const size_t index = std::stoul(name.substr(prefix.size()));
    return index >= 1 && index <= options.size() ? options[index - 1].c_str() : nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> options(1);
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == '\n') {
            options.emplace_back();
        } else {
            options.back().push_back(static_cast<char>(data[i]));
        }
    }
    const dns::PushedDns pushed =
        dns::pushed_dns([&](const std::string& name) { return option(options, name); });
    fuzz::require(pushed.servers.size() <= dns::kMaxServers, "at most three servers");
    for (const dns::DnsServer& server : pushed.servers) {
        uint8_t bytes[16] = {};
        const bool reads_back = inet_pton(server.family, server.text.c_str(), bytes) == 1 &&
                                std::equal(server.bytes.begin(), server.bytes.end(), bytes) &&
                                server.bytes.size() == (server.family == AF_INET ? 4u : 16u);
        fuzz::require(reads_back, "a server's text reads back to its address");
        fuzz::require(server.text.find_first_not_of("0123456789abcdef.:") == std::string::npos,
                      "a server's text holds address characters only");
    }
    return 0;
}
