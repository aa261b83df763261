#include "tray/core/notification_report.h"

#include "common/log/rotating_log.h"
#include "common/store/store.h"
#include "updater/net/http_fetch.h"

#ifndef QUIETWAY_VENDOR_HOST
#error "QUIETWAY_VENDOR_HOST names the vendor's web host; the build sets it"
#endif

namespace quietway {
namespace {

constexpr size_t kAnswerLimit = 2047;

}  // namespace

std::string encode_query_value(const std::string& text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        const bool plain = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                           (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' ||
                           byte == '_' || byte == '~';
        if (plain) {
            out += c;
        } else {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 0x0F];
        }
    }
    return out;
}

std::string notification_report_url(const std::string& id, int32_t state) {
    std::string url;
    if (!get_setting_string("app", "notification_set_st_url", url)) {
        url = std::string("http://") + QUIETWAY_VENDOR_HOST + kNotificationStatePath;
    }
    std::string user;
    if (get_setting_string("general", "user", user)) url += "?account=" + encode_query_value(user);
    url += "&id=" + encode_query_value(id) + "&state=" + std::to_string(state);
    return url;
}

void report_notification_state(const std::string& id, int32_t state) {
    std::string answer;
    uint32_t error = 0;
    switch (fetch_document(notification_report_url(id, state), kAnswerLimit, answer, error)) {
        case FetchStatus::no_session:
            log("ERROR InternetOpen!!!! Code = %d", static_cast<int>(error));
            break;
        case FetchStatus::no_request:
            log("Error change notification state on server");
            break;
        // The answer is not used: a long or cut one still means the server heard the report.
        case FetchStatus::ok:
        case FetchStatus::read_failed:
        case FetchStatus::too_long:
            break;
    }
}

}  // namespace quietway
