#include <windows.h>
// windows.h first: wininet.h needs its types.
#include <wininet.h>

#include "tools/refresh_ie/browser_refresh.h"

namespace quietway {

bool refresh_browser_proxy_settings() {
    // The first notice marks every WinINet user's proxy settings stale; the second has running
    // programs read them now rather than at their next request. Only the first decides: some
    // systems (Wine among them) refuse the second for the process-wide handle.
    const bool changed =
        InternetSetOptionA(nullptr, INTERNET_OPTION_SETTINGS_CHANGED, nullptr, 0) != FALSE;
    InternetSetOptionA(nullptr, INTERNET_OPTION_REFRESH, nullptr, 0);
    return changed;
}

}  // namespace quietway
