// The values the tray reads: the status a pipe reply carries and the stored account expiry,
// shown through the status display, the account line and the whole menu. Input: eight bytes
// of clock, four of status, then the stored expiry text.
#include <cstring>
#include <string>

#include "common/store/store.h"
#include "fuzz/fuzz_environment.h"
#include "tray/core/tray_menu.h"
#include "tray/core/tray_status.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace quietway;
    fuzz::environment();
    if (size < 12) return -1;
    int64_t now = 0;
    int32_t status = 0;
    std::memcpy(&now, data, sizeof now);
    std::memcpy(&status, data + 8, sizeof status);
    const std::string stored(reinterpret_cast<const char*>(data) + 12, size - 12);

    static StatusMonitor monitor;
    const bool shown = status >= kPrivacyNone && status <= kReplySameUser;
    const auto polled = monitor.on_poll_reply(status);
    const auto commanded = monitor.on_command_reply(status);
    fuzz::require(!polled || shown, "a poll shows only a status the tray knows");
    fuzz::require(commanded.has_value() == shown, "a command's reply shows every known status");
    for (const auto& view : {polled, commanded}) {
        if (view) fuzz::require(view->tooltip.size() < kTipCapacity, "the tip fits its record");
    }
    account_expiry_text(stored, now);
    set_setting_string("general", "account_expires", stored);
    build_tray_menu(status, now);
    return 0;
}
