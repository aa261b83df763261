#include "tray/core/notification_report.h"

#include "common/log/rotating_log.h"
#include "common/net/http_fetch.h"
#include "common/net/percent_encode.h"
#include "common/net/vendor_url.h"
#include "common/store/store.h"

namespace quietway {
namespace {

constexpr size_t kAnswerLimit = 2047;

}  // namespace

std::string notification_report_url(const std::string& id, int32_t state) {
    std::string url = vendor_address("notification_set_st_url", kNotificationStatePath);
    // Empty with nothing stored: no vendor to tell. A stored address is used even when empty.
    std::string stored;
    if (url.empty() && !get_setting_string("app", "notification_set_st_url", stored)) return url;
    return with_account_query(std::move(url)) + "&id=" + percent_encode(id) +
           "&state=" + std::to_string(state);
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
