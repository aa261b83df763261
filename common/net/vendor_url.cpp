#include "common/net/vendor_url.h"

#include "common/net/percent_encode.h"
#include "common/store/store.h"

#if !defined(QUIETWAY_VENDOR_HOST) || !defined(QUIETWAY_VENDOR_SCHEME)
#error "QUIETWAY_VENDOR_SCHEME and QUIETWAY_VENDOR_HOST name the vendor's host; the build sets them"
#endif

namespace quietway {

std::string vendor_host() { return QUIETWAY_VENDOR_HOST; }

std::string vendor_base_url() {
    const std::string host = vendor_host();
    return host.empty() ? host : std::string(QUIETWAY_VENDOR_SCHEME) + "://" + host;
}

std::string vendor_address(const char* override_name, const char* default_path) {
    std::string address;
    if (get_setting_string("app", override_name, address)) return address;
    const std::string base = vendor_base_url();
    return base.empty() ? base : base + default_path;
}

std::string with_account_query(std::string address) {
    std::string user;
    if (get_setting_string("general", "user", user)) address += "?account=" + percent_encode(user);
    return address;
}

}  // namespace quietway
