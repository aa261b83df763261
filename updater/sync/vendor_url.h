#pragma once

#include <string>
#include <string_view>

// Addresses of the vendor's endpoints that the syncs query.
namespace quietway {

// Default paths on the vendor's update host.
inline constexpr const char* kServersListPath = "/updater/servers_list/quietway_servers.xml";
inline constexpr const char* kNotificationsListPath =
    "/updater/notifications_list/get_notifications.php";
inline constexpr const char* kAccountExpiresPath = "/updater/get_account_expires.php";

// Every byte outside the unreserved set (letters, digits, "-._~") as "%XX".
std::string percent_encode(std::string_view text);

// The store value `override_name` of section "app" when it can be read, else the update host
// followed by `default_path`; "" when the store has none and the build names no vendor.
std::string vendor_address(const char* override_name, const char* default_path);

// `address` followed by "?account=" and the encoded `user` of section "general" when that
// can be read.
std::string with_account_query(std::string address);

}  // namespace quietway
