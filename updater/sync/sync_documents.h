#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace tinyxml2 {
class XMLElement;
}

// What each sync does with the text it fetched, apart from the fetch, and the pieces they
// share.
namespace quietway {

// Longest bodies the syncs accept; a longer body is a failure that changes nothing.
inline constexpr size_t kServerListLimit = 2047;
inline constexpr size_t kNotificationsLimit = 4095;
inline constexpr size_t kAccountAnswerLimit = 2047;

using BannerDownload = std::function<bool(const std::string& url, std::string& path)>;

// Makes the server list match the document (see sync_servers); false when the document is
// not a server list or nothing was changed.
bool apply_server_list(std::string_view document, const std::function<void()>& end_engine);

// Stores the document's new events (see sync_notifications); true when one was stored.
bool apply_notifications(std::string_view document, const BannerDownload& download_banner);

// Stores the expiry answer when it differs from `remembered` (see sync_account).
bool apply_account_expiry(std::string_view answer, std::string& remembered);

// Whether the document holds a character reference to NUL ("&#0;", "&#x00;", ...). XML does
// not allow one, and the parser would end the element's text there: such a document is refused.
bool holds_nul_reference(std::string_view document);

// `text` is a decimal number from 0 to `max` without sign or blanks.
bool decimal_number(std::string_view text, uint32_t max, uint32_t& value);

// `text` is a decimal number from 1 to `max` without sign or blanks; leading zeros are
// allowed and dropped from `canonical`.
bool positive_decimal(std::string_view text, uint32_t max, uint32_t& value, std::string& canonical);

// The text of `parent`'s first child element `name` (its first child node when that is
// text); "" and false when the element is missing or has no text.
bool element_text(const tinyxml2::XMLElement* parent, const char* name, std::string& out);

// Reads the whole body of `url` up to `limit` bytes; logs "ERROR InternetOpen!!!! Code = %d"
// when no HTTP session could be started.
bool fetch_vendor_document(const std::string& url, size_t limit, std::string& body);

}  // namespace quietway
