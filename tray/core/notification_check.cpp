#include "tray/core/notification_check.h"

#include <charconv>
#include <vector>

#include "common/log/rotating_log.h"
#include "common/store/notification_store.h"
#include "common/store/store.h"

namespace quietway {
namespace {

// A key name as the notification's id: plain decimal digits giving a positive 32-bit number.
bool parse_id(const std::string& name, int32_t& id) {
    if (name.empty() || name.size() > 10 ||
        name.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    const auto [ptr, error] = std::from_chars(name.data(), name.data() + name.size(), id);
    return error == std::errc() && ptr == name.data() + name.size() && id > 0;
}

bool is_continuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

}  // namespace

std::string cut_text(std::string_view text, size_t capacity) {
    if (text.size() <= capacity) return std::string(text);
    size_t end = capacity;
    // Step back over a sequence that the cut would split.
    size_t start = end;
    while (start > 0 && is_continuation(static_cast<unsigned char>(text[start]))) --start;
    if (start < end || is_continuation(static_cast<unsigned char>(text[end]))) end = start;
    return std::string(text.substr(0, end));
}

NotificationCheck check_notifications(int64_t now) {
    NotificationCheck result;
    std::vector<std::string> names;
    if (!list_reg_subkeys(kNotificationsPath, names)) log("Can't get list of notifications!");

    for (const std::string& name : names) {
        NotificationRecord record;
        if (!read_notification(name, record)) {
            log("Can't get notification!");
            continue;
        }
        if (record.state == kNotificationNotShown) {
            int32_t id = 0;
            if (!parse_id(name, id)) continue;
            result.selected = true;
            CurrentNotification& current = result.notification;
            current.id = id;
            current.info = cut_text(record.info, kInfoCapacity);
            current.title = cut_text(record.title, kTitleCapacity);
            current.url = cut_text(record.url, kUrlCapacity);
            current.banner = cut_text(record.banner, kBannerCapacity);
            current.state = record.state;
            break;
        }
        if (record.expires < now) {
            if (!delete_notification(name)) log("Can't delete notification!");
            break;
        }
    }

    if (result.selected) {
        const CurrentNotification& current = result.notification;
        if (!current.info.empty() && !current.title.empty()) {
            result.show = NotificationShow::text;
        } else if (!current.banner.empty()) {
            result.show = NotificationShow::banner;
        }
    }
    return result;
}

bool NotificationClock::due(uint32_t masked_now) {
    masked_now &= kTickMask;
    if (masked_now - last_ <= kNotificationCheckPeriodMs) return false;
    last_ = masked_now;
    return true;
}

}  // namespace quietway
