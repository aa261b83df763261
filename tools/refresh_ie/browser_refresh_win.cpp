#include <windows.h>
// windows.h first: wininet.h needs its types.
#include <wininet.h>

#include "tools/refresh_ie/browser_refresh.h"

namespace quietway {

bool refresh_browser_proxy_settings() {
    // The first notice marks the settings stale, the second makes running programs read them.
    const bool changed =
        InternetSetOptionA(nullptr, INTERNET_OPTION_SETTINGS_CHANGED, nullptr, 0) != FALSE;
    const bool refreshed =
        InternetSetOptionA(nullptr, INTERNET_OPTION_REFRESH, nullptr, 0) != FALSE;
    return changed && refreshed;
}

}  // namespace quietway
