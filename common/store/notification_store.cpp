#include <string>
#include <vector>

#include "common/log/rotating_log.h"
#include "common/store/json_text.h"
#include "common/store/notification_store.h"
#include "common/store/record_text.h"
#include "common/store/store.h"

namespace quietway {

namespace {

// Checked before anything is written, so that a refused text creates no half notification.
bool texts_fit(const NotificationRecord& notification) {
    return string_value_fits("info", notification.info) &&
           string_value_fits("title", notification.title) &&
           string_value_fits("url", notification.url) &&
           string_value_fits("banner", notification.banner) &&
           string_value_fits("banner_url", notification.banner_url);
}

Json::Value notification_json(const std::string& number) {
    const std::string path = std::string(kNotificationsPath) + "\\" + number;
    Json::Value entry(Json::objectValue);
    for (const char* name : {"title", "info", "url", "banner", "banner_url"}) {
        std::string text;
        read_reg_string(path.c_str(), name, text);
        entry[name] = valid_utf8(text);
    }
    uint32_t expires = 0;
    read_reg_dword(path.c_str(), "expires", expires);
    entry["expired"] = static_cast<Json::Int>(static_cast<int32_t>(expires));
    return entry;
}

}  // namespace

bool notification_key_path(const std::string& number, std::string& path) {
    return record_text::child_key_path(kNotificationsPath, number, kNotificationPathCapacity, path);
}

bool read_notification(const std::string& number, NotificationRecord& out) {
    std::string path;
    NotificationRecord read;
    uint32_t expires = 0;
    uint32_t state = 0;
    if (!notification_key_path(number, path) || !read_reg_string(path.c_str(), "info", read.info) ||
        !read_reg_string(path.c_str(), "title", read.title) ||
        !read_reg_string(path.c_str(), "url", read.url) ||
        !read_reg_string(path.c_str(), "banner", read.banner) ||
        !read_reg_string(path.c_str(), "banner_url", read.banner_url) ||
        !read_reg_dword(path.c_str(), "expires", expires) ||
        !read_reg_dword(path.c_str(), "state", state))
        return false;
    read.id = out.id;
    read.expires = static_cast<int32_t>(expires);
    read.state = static_cast<int32_t>(state);
    out = std::move(read);
    return true;
}

bool create_notification(const NotificationRecord& notification) {
    // Number 0 stands for "no notification".
    if (notification.id <= 0) {
        log("invalid notification number: %d", notification.id);
        return false;
    }
    std::string path;
    if (!texts_fit(notification) || !notification_key_path(std::to_string(notification.id), path))
        return false;
    const char* key = path.c_str();
    return create_reg_string(RootKey::local_machine, key, "info", notification.info) &&
           create_reg_string(RootKey::local_machine, key, "title", notification.title) &&
           create_reg_string(RootKey::local_machine, key, "url", notification.url) &&
           create_reg_string(RootKey::local_machine, key, "banner", notification.banner) &&
           create_reg_string(RootKey::local_machine, key, "banner_url", notification.banner_url) &&
           create_reg_dword(key, "expires", static_cast<uint32_t>(notification.expires)) &&
           create_reg_dword(key, "state", static_cast<uint32_t>(notification.state));
}

bool set_notification_state(const std::string& number, int32_t state) {
    std::string path;
    return notification_key_path(number, path) &&
           write_reg_dword(path.c_str(), "state", static_cast<uint32_t>(state));
}

bool delete_notification(const std::string& number) {
    std::string path;
    return notification_key_path(number, path) && delete_reg_key(path.c_str());
}

bool list_notifications_json(Json::Value& out) {
    std::vector<std::string> numbers;
    if (!list_reg_subkeys(kNotificationsPath, numbers)) return false;
    Json::Value notifications(Json::arrayValue);
    for (const std::string& number : numbers) notifications.append(notification_json(number));
    out = std::move(notifications);
    return true;
}

}  // namespace quietway
