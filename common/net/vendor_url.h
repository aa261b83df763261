#pragma once

#include <string>

// Addresses of the vendor's endpoints that the updater's syncs and the tray's reports use.
namespace quietway {

// The vendor's update host for addresses without a store override ("http://host[:port]" or
// "https://host[:port]"); "" when the build names no vendor: then there are no default
// addresses.
std::string vendor_base_url();
// The same host without its scheme ("host[:port]"), "" when there is none.
std::string vendor_host();

// Default paths on the vendor's update host.
inline constexpr const char* kServersListPath = "/updater/servers_list/quietway_servers.xml";
inline constexpr const char* kNotificationsListPath =
    "/updater/notifications_list/get_notifications.php";
inline constexpr const char* kAccountExpiresPath = "/updater/get_account_expires.php";
inline constexpr const char* kNotificationStatePath =
    "/updater/notifications_list/set_notification_state.php";

// The store value `override_name` of section "app" when it can be read, else the update host
// followed by `default_path`; "" when the store has none and the build names no vendor.
std::string vendor_address(const char* override_name, const char* default_path);

// `address` followed by "?account=" and the encoded `user` of section "general" when that
// can be read.
std::string with_account_query(std::string address);

}  // namespace quietway
