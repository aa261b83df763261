#include "tray/core/notification_report.h"

#include "common/log/rotating_log.h"
#include "common/store/store.h"
#include "updater/net/http_fetch.h"
#include "updater/sync/syncs.h"
#include "updater/sync/vendor_url.h"

namespace quietway {
namespace {

constexpr size_t kAnswerLimit = 2047;

}  // namespace

std::string notification_report_url(const std::string& id, int32_t state) {
    std::string url;
    if (!get_setting_string("app", "notification_set_st_url", url)) {
        if (vendor_base_url().empty()) return url;
        url = vendor_base_url() + kNotificationStatePath;
    }
    std::string user;
    if (get_setting_string("general", "user", user)) url += "?account=" + percent_encode(user);
    url += "&id=" + percent_encode(id) + "&state=" + std::to_string(state);
    return url;
}

void report_notification_state(const std::string& id, int32_t state) {
    const std::string url = notification_report_url(id, state);
    // Without a vendor there is no one to tell.
    if (url.empty()) return;
    std::string answer;
    uint32_t error = 0;
    switch (fetch_document(url, kAnswerLimit, answer, error)) {
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
