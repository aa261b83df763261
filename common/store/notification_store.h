#pragma once

#include <json/value.h>

#include <cstdint>
#include <string>

// The vendor's notifications below "SOFTWARE\\Quietway2\\notifications", one subkey per
// notification named by its number in decimal. Every operation returns true on success.
namespace quietway {

// Notification state values.
inline constexpr int32_t kNotificationNotShown = 0;
inline constexpr int32_t kNotificationShown = 1;
inline constexpr int32_t kNotificationOpened = 2;

// Capacity of a notification key's full path, terminator included.
inline constexpr size_t kNotificationPathCapacity = 128;

struct NotificationRecord {
    int32_t id = 0;
    std::string info;
    std::string title;
    std::string url;
    std::string banner;
    std::string banner_url;
    int32_t expires = 0;
    int32_t state = 0;
};

// Reads info, title, url, banner, banner_url, expires and state; fails at the first value
// that cannot be read. `out.id` is the caller's.
bool read_notification(const std::string& number, NotificationRecord& out);
// Creates the subkey named by the record's id (and the notifications key when missing), open
// to every local user, and writes the seven values, stopping at the first failure.
bool create_notification(const NotificationRecord& notification);
bool set_notification_state(const std::string& number, int32_t state);
bool delete_notification(const std::string& number);

// The control API's "notifications" array: title, info, url, banner, banner_url and
// "expired" (the stored `expires`) per notification, in the store's order.
bool list_notifications_json(Json::Value& out);

// Full key path of the notification `number`; false when the number is not a single key name
// or the path does not fit kNotificationPathCapacity.
bool notification_key_path(const std::string& number, std::string& path);

}  // namespace quietway
