#include "common/service_host/systemd_unit.h"

#include <cstdlib>

#include "common/service_host/service_arguments.h"

namespace quietway {
namespace {

bool is_user_char(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '.' || c == '-';
}

bool is_description_safe(const std::string& text) {
    for (char c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == '%' || c == '\\') return false;
    }
    return true;
}

}  // namespace

std::string unit_directory() {
    const char* dir = std::getenv(kUnitDirEnv);
    return dir != nullptr && *dir != '\0' ? dir : kDefaultUnitDir;
}

std::string unit_name(const char* service_name) { return std::string(service_name) + ".service"; }

bool is_valid_unit_user(const std::string& name) {
    if (name.empty() || name.size() > kMaxAccountText) return false;
    if (name.front() == '-' || name.front() == '.') return false;
    for (char c : name) {
        if (!is_user_char(c)) return false;
    }
    return true;
}

bool quote_exec_path(const std::string& path, std::string& out) {
    if (path.empty() || path.front() != '/') return false;
    out = "\"";
    for (char c : path) {
        const unsigned char u = static_cast<unsigned char>(c);
        // systemd refuses to start an executable whose name holds these.
        if (u < 0x20 || u == 0x7F || c == '"' || c == '\\') return false;
        // "%" starts a specifier; "$" is taken literally in the executable's name.
        if (c == '%') out += '%';
        out += c;
    }
    out += '"';
    return true;
}

bool build_unit_text(const UnitSettings& settings, std::string& text) {
    std::string exec;
    if (!quote_exec_path(settings.program, exec)) return false;
    if (!is_description_safe(settings.description)) return false;
    if (!settings.user.empty() && !is_valid_unit_user(settings.user)) return false;

    text = "[Unit]\n";
    text += "Description=" + settings.description + "\n";
    text += "Wants=network-online.target\n";
    text += "After=network-online.target\n\n";
    text += "[Service]\n";
    text += "Type=notify\n";
    text += "NotifyAccess=main\n";
    text += "ExecStart=" + exec + "\n";
    // The host exits with 0 after a stop and with 1 when the service ended on its own.
    text += "Restart=on-failure\n";
    // systemd's soft limit of 1024 leaves little room beside the clients of the local channels,
    // the tunnel programs and the store.
    text += "LimitNOFILE=16384\n";
    // As on Windows, stopping the service ends its own process only; the programs it
    // started (tunnel clients, the tray in the user's session) are ended by their owners.
    text += "KillMode=process\n";
    if (!settings.user.empty()) text += "User=" + settings.user + "\n";
    text += settings.sandbox;
    text += "\n[Install]\n";
    text += "WantedBy=multi-user.target\n";
    return true;
}

}  // namespace quietway
