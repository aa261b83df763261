#pragma once

namespace quietway {

// Tells the WinINet users of this session (browsers, the shell) that the proxy settings
// changed and have them reload them. False when the system refused the change notice.
bool refresh_browser_proxy_settings();

}  // namespace quietway
