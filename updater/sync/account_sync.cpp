#include <string>

#include "common/log/rotating_log.h"
#include "common/store/store.h"
#include "updater/sync/sync_documents.h"

namespace quietway {

bool apply_account_expiry(std::string_view answer, std::string& remembered) {
    // The answer is text: a NUL byte ends it.
    const std::string text(answer.substr(0, answer.find('\0')));
    if (!remembered.empty() && remembered == text) return false;
    if (!set_setting_string("general", "account_expires", text)) {
        program_log().log("Can't add account_expires to register!");
        return false;
    }
    remembered = text;
    return true;
}

}  // namespace quietway
