#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The connection test behind the web interface's test page: the address the machine's
// traffic leaves from, as the vendor's check address sees it, and whether names are answered
// by the tunnel's resolver. The vendor's check name resolves to a known address only there;
// any other resolver gives another answer or none.
namespace quietway {

// Settings of section `app` (the vendor's; without them the test is not configured).
inline constexpr const char* kCheckExitUrlSetting = "check_ip_url";
inline constexpr const char* kCheckNameSetting = "check_dns_name";
inline constexpr const char* kCheckAddressSetting = "check_dns_address";

// The whole test ends within this (the name lookup and the request run side by side).
inline constexpr uint32_t kCheckLimitMs = 6000;

struct CheckSettings {
    std::string exit_url;     // answers with the address a request came from
    std::string dns_name;     // a name the tunnel's resolver answers with dns_address
    std::string dns_address;  // canonical
    std::string curl;         // the curl program in the bin directory
};

enum class ResolverSeen { tunnel, other, none };

struct CheckResult {
    std::string exit_address;  // canonical; empty when the check address did not answer
    ResolverSeen resolver = ResolverSeen::none;
    std::vector<std::string> answers;  // the check name's addresses, canonical
};

// From the store; false when a setting is missing or unusable (not an http or https URL, not a
// host name, not an address).
bool read_check_settings(CheckSettings& out);

CheckResult run_connection_check(const CheckSettings& settings);

// Which resolver gave `answers`, knowing that the tunnel's answers `expected`.
ResolverSeen judge_resolver(const std::vector<std::string>& answers, const std::string& expected);
const char* resolver_word(ResolverSeen resolver);

// The check address's reply: one address, white space around it allowed.
bool exit_address_from(const std::string& reply, std::string& address);

// Platform parts. `host`'s addresses as canonical text; with `numeric_only` nothing is looked
// up and `host` must itself be an address.
bool host_addresses(const std::string& host, bool numeric_only, std::vector<std::string>& out);
std::string curl_in(const std::string& app_dir);

}  // namespace quietway
