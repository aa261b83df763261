#include <windows.h>

#include <wininet.h>
#include <wtsapi32.h>

#include <string>

#include "common/os/win_handle.h"
#include "common/process/launcher.h"
#include "common/store/store.h"
#include "service/privacy/proxy_switch.h"

namespace quietway {
namespace {

constexpr DWORD kNoConsoleSession = 0xFFFFFFFF;

// The calling thread acts as the token's user until destruction.
class Impersonation {
public:
    explicit Impersonation(HANDLE token) : active_(ImpersonateLoggedOnUser(token) != FALSE) {}
    ~Impersonation() {
        if (active_) RevertToSelf();
    }
    Impersonation(const Impersonation&) = delete;
    Impersonation& operator=(const Impersonation&) = delete;

    bool active() const { return active_; }

private:
    bool active_;
};

// Writes the LAN connection's proxy options of the user being impersonated and tells the
// system they changed. Failures are not detected: the options calls report nothing useful to
// the caller, who cannot undo a half change either.
void write_proxy_options(const std::string& port, bool on) {
    std::string server = on ? std::string(kLocalProxyHost) + ":" + port : std::string();
    char bypass_local[] = "<local>";
    char empty[] = "";

    INTERNET_PER_CONN_OPTIONA options[3]{};
    options[0].dwOption = INTERNET_PER_CONN_FLAGS;
    options[0].Value.dwValue = on ? (PROXY_TYPE_DIRECT | PROXY_TYPE_PROXY) : PROXY_TYPE_DIRECT;
    options[1].dwOption = INTERNET_PER_CONN_PROXY_SERVER;
    options[1].Value.pszValue = on ? server.data() : empty;
    options[2].dwOption = INTERNET_PER_CONN_PROXY_BYPASS;
    options[2].Value.pszValue = on ? bypass_local : empty;

    // The list's size is the platform's own (40 bytes on x64; 20 is the 32-bit layout).
    INTERNET_PER_CONN_OPTION_LISTA list{};
    list.dwSize = sizeof(list);
    list.pszConnection = nullptr;
    list.dwOptionCount = 3;
    list.pOptions = options;
    InternetSetOptionA(nullptr, INTERNET_OPTION_PER_CONNECTION_OPTION, &list, sizeof(list));
    InternetSetOptionA(nullptr, INTERNET_OPTION_SETTINGS_CHANGED, nullptr, 0);
    InternetSetOptionA(nullptr, INTERNET_OPTION_REFRESH, nullptr, 0);
}

}  // namespace

bool set_system_proxy(const std::string& port, bool on) {
    if (on && !is_proxy_port(port)) return false;
    {
        const DWORD session = WTSGetActiveConsoleSessionId();
        if (session == kNoConsoleSession) return false;
        WinHandle token;
        if (!WTSQueryUserToken(session, token.receive())) return false;
        // While impersonating, the options calls change the console user's own settings.
        Impersonation as_user(token.get());
        if (!as_user.active()) return false;
        write_proxy_options(port, on);
    }
    std::string app_dir;
    if (!get_setting_string("app", "app_dir", app_dir)) return false;
    return run_in_user_session((app_dir + "\\bin\\refresh_ie.exe").c_str());
}

}  // namespace quietway
