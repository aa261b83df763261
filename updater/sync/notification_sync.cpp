#include <tinyxml2.h>

#include <cstdint>
#include <limits>
#include <string>

#include "common/log/rotating_log.h"
#include "common/store/notification_store.h"
#include "common/store/store_limits.h"
#include "updater/sync/sync_documents.h"

namespace quietway {
namespace {

// Only the first ten characters of EXPIRES count: seconds since 1970 need ten digits.
constexpr size_t kExpiresDigits = 10;

bool fits_store(const NotificationRecord& record) {
    return record.title.size() <= kMaxStringValue && record.info.size() <= kMaxStringValue &&
           record.url.size() <= kMaxStringValue && record.banner_url.size() <= kMaxStringValue;
}

// True when the event was stored.
bool add_event(const tinyxml2::XMLElement* event, const BannerDownload& download_banner) {
    std::string id_text;
    std::string expires_text;
    element_text(event, "ID", id_text);
    element_text(event, "EXPIRES", expires_text);
    uint32_t id = 0;
    std::string number;
    uint32_t expires = 0;
    // An event without a usable number or expiry is skipped: it could not be stored under
    // its number, or would expire at a wrong time.
    if (!positive_decimal(id_text, static_cast<uint32_t>(std::numeric_limits<int32_t>::max()), id,
                          number) ||
        !decimal_number(std::string_view(expires_text).substr(0, kExpiresDigits),
                        std::numeric_limits<uint32_t>::max(), expires)) {
        return false;
    }
    NotificationRecord stored;
    if (read_notification(number, stored)) return false;

    NotificationRecord record;
    record.id = static_cast<int32_t>(id);
    element_text(event, "TITLE", record.title);
    element_text(event, "BODY", record.info);
    element_text(event, "URL", record.url);
    const bool has_banner = element_text(event, "BANNER", record.banner_url);
    // The stored DWORD keeps all 32 bits; the record carries them as a signed number.
    record.expires = static_cast<int32_t>(expires);
    record.state = kNotificationNotShown;
    if (!fits_store(record)) {
        program_log().log("Can't add notification!");
        return false;
    }
    if (has_banner && download_banner) {
        std::string path;
        if (download_banner(record.banner_url, path) && path.size() <= kMaxStringValue) {
            record.banner = path;
        }
    }
    if (create_notification(record)) return true;
    program_log().log("Can't add notification!");
    return false;
}

}  // namespace

bool apply_notifications(std::string_view document, const BannerDownload& download_banner) {
    tinyxml2::XMLDocument xml;
    if (holds_nul_reference(document)) return false;
    if (xml.Parse(document.data(), document.size()) != tinyxml2::XML_SUCCESS) return false;
    const tinyxml2::XMLElement* root = xml.FirstChildElement("QUIETWAY");
    if (!root) return false;
    bool added = false;
    for (const tinyxml2::XMLElement* event = root->FirstChildElement("EVENT"); event;
         event = event->NextSiblingElement("EVENT")) {
        if (add_event(event, download_banner)) added = true;
    }
    return added;
}

}  // namespace quietway
