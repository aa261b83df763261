#include "tools/quietway_ctl/ctl_endpoint.h"

#include <charconv>
#include <optional>
#include <string_view>

#include "common/net/base64.h"
#include "common/store/store.h"

namespace quietway::ctl {
namespace {

bool is_loopback_host(const std::string& host) {
    return host == "localhost" || host.starts_with("127.");
}

std::optional<int> port_number(std::string_view text) {
    int port = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), port);
    if (error != std::errc() || end != text.data() + text.size() || port < 1 || port > 65535)
        return std::nullopt;
    return port;
}

}  // namespace

Endpoint read_endpoint() {
    Endpoint endpoint;
    std::string setting;
    if (!get_setting_string("http", "rpc_port", setting)) return endpoint;
    // The web server may listen on several; the first one is the API's.
    std::string_view first(setting);
    first = first.substr(0, first.find(','));
    std::string host = endpoint.host;
    const size_t colon = first.rfind(':');
    if (colon != std::string_view::npos) {
        host = std::string(first.substr(0, colon));
        first = first.substr(colon + 1);
    }
    const std::optional<int> port = port_number(first);
    if (!port || !is_loopback_host(host)) return endpoint;
    endpoint.host = host;
    endpoint.port = *port;
    return endpoint;
}

bool read_stored_authorization(std::string& authorization) {
    std::string user;
    std::string password;
    std::string encoded;
    if (!get_setting_string("http", "rpc_user", user) ||
        !get_setting_string("http", "rpc_password", password) ||
        !base64_encode(user + ":" + password, encoded)) {
        return false;
    }
    authorization = "Basic " + encoded;
    return true;
}

}  // namespace quietway::ctl
