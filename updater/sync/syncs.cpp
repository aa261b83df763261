#include <string>

#include "common/log/rotating_log.h"
#include "updater/net/http_fetch.h"
#include "updater/sync/sync_documents.h"
#include "updater/sync/syncs.h"
#include "updater/sync/vendor_url.h"

// The three syncs: each fetches its whole document within its limit and hands it on.
namespace quietway {

bool fetch_vendor_document(const std::string& url, size_t limit, std::string& body) {
    uint32_t error = 0;
    const FetchStatus status = fetch_document(url, limit, body, error);
    if (status == FetchStatus::no_session) {
        program_log().log("ERROR InternetOpen!!!! Code = %d", static_cast<int>(error));
    }
    return status == FetchStatus::ok;
}

bool sync_servers(const std::function<void()>& end_engine) {
    std::string document;
    if (!fetch_vendor_document(vendor_address("servers_list_url", kServersListPath),
                               kServerListLimit, document)) {
        return false;
    }
    return apply_server_list(document, end_engine);
}

bool sync_notifications(const BannerDownload& download_banner) {
    std::string document;
    if (!fetch_vendor_document(
            with_account_query(vendor_address("notification_get_url", kNotificationsListPath)),
            kNotificationsLimit, document)) {
        return false;
    }
    return apply_notifications(document, download_banner);
}

bool sync_account(std::string& remembered) {
    std::string answer;
    if (!fetch_vendor_document(
            with_account_query(vendor_address("expiration_url", kAccountExpiresPath)),
            kAccountAnswerLimit, answer)) {
        return false;
    }
    return apply_account_expiry(answer, remembered);
}

}  // namespace quietway
