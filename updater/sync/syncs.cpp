#include <atomic>
#include <string>

#include "common/log/rotating_log.h"
#include "common/net/http_fetch.h"
#include "common/net/vendor_url.h"
#include "updater/sync/sync_documents.h"
#include "updater/sync/syncs.h"

// The three syncs: each fetches its whole document within its limit and hands it on.
namespace quietway {
namespace {

// Without an address in the store or a vendor in the build there is nothing to fetch from;
// each sync says so once per process rather than every period.
bool vendor_known(const std::string& address, std::atomic<bool>& said, const char* sync) {
    if (!address.empty()) return true;
    if (!said.exchange(true)) log("No vendor configured: %s sync is off", sync);
    return false;
}

}  // namespace

bool fetch_vendor_document(const std::string& url, size_t limit, std::string& body) {
    uint32_t error = 0;
    const FetchStatus status = fetch_document(url, limit, body, error);
    if (status == FetchStatus::no_session) {
        program_log().log("ERROR InternetOpen!!!! Code = %d", static_cast<int>(error));
    }
    return status == FetchStatus::ok;
}

bool sync_servers(const std::function<void()>& end_engine) {
    static std::atomic<bool> said{false};
    const std::string url = vendor_address("servers_list_url", kServersListPath);
    std::string document;
    if (!vendor_known(url, said, "server list") ||
        !fetch_vendor_document(url, kServerListLimit, document)) {
        return false;
    }
    return apply_server_list(document, end_engine);
}

bool sync_notifications(const BannerDownload& download_banner) {
    static std::atomic<bool> said{false};
    const std::string url = vendor_address("notification_get_url", kNotificationsListPath);
    std::string document;
    if (!vendor_known(url, said, "notification") ||
        !fetch_vendor_document(with_account_query(url), kNotificationsLimit, document)) {
        return false;
    }
    return apply_notifications(document, download_banner);
}

bool sync_account(std::string& remembered) {
    static std::atomic<bool> said{false};
    const std::string url = vendor_address("expiration_url", kAccountExpiresPath);
    std::string answer;
    if (!vendor_known(url, said, "account") ||
        !fetch_vendor_document(with_account_query(url), kAccountAnswerLimit, answer)) {
        return false;
    }
    return apply_account_expiry(answer, remembered);
}

}  // namespace quietway
