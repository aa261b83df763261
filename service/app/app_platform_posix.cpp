#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "common/log/rotating_log.h"
#include "common/os/file_io_posix.h"
#include "common/process/process_kill.h"
#include "common/process/process_kill_posix.h"
#include "service/app/app_platform.h"

namespace quietway {
namespace {

namespace fs = std::filesystem;

constexpr const char* kAutostartDir = "/etc/xdg/autostart";
constexpr const char* kAutostartFile = "quietway-tray.desktop";

// The Exec line quotes the path; these would need escapes that desktop environments do not
// read alike, and no installation puts them into its program directory.
bool fits_exec_line(const std::string& path) {
    for (const unsigned char c : path) {
        if (c < 0x20 || c == 0x7f || c == '"' || c == '`' || c == '$' || c == '\\') return false;
    }
    return !path.empty() && path.front() == '/';
}

std::string autostart_entry(const std::string& program) {
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Quietway\n"
           "Comment=Quietway connection status\n"
           "Exec=\"" +
           program +
           "\"\n"
           "Terminal=false\n"
           "NoDisplay=true\n"
           "X-GNOME-Autostart-enabled=true\n";
}

std::string base_name(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

bool start_sockets() { return true; }

void release_sockets() {}

bool write_tray_autostart(const std::string& app_dir) {
    const std::string program = app_dir + "/bin/quietway_tray";
    if (!fits_exec_line(program)) {
        log("tray autostart entry not written: unusable program path");
        return false;
    }
    const char* redirected = std::getenv(kAutostartDirEnv);
    const fs::path dir = redirected != nullptr && *redirected != '\0' ? redirected : kAutostartDir;
    std::error_code error;
    fs::create_directories(dir, error);
    const std::string path = dir / kAutostartFile;
    AtomicWrite how;
    how.mode = 0644;
    how.temporary = path + ".new";
    if (write_file_atomically(AT_FDCWD, path, autostart_entry(program), how) !=
        AtomicWriteResult::placed) {
        log("tray autostart entry not written to %s", dir.c_str());
        return false;
    }
    return true;
}

// Our sessions start "<bin dir>/openvpn --config <conf dir><id>/vpn_conf.ovpn"; other
// programs' clients (a network manager's, a server) never name our configuration directory.
void end_leftover_vpn_clients(const std::string& conf_dir) {
    if (conf_dir.empty()) return;
    const size_t ended = kill_processes_by_command_line([&](const std::vector<std::string>& args) {
        if (base_name(args[0]) != "openvpn") return false;
        for (size_t i = 1; i < args.size(); ++i) {
            if (args[i].compare(0, conf_dir.size(), conf_dir) == 0) return true;
        }
        return false;
    });
    if (ended > 0) log("ended %d VPN client(s) left from an earlier run", static_cast<int>(ended));
}

bool vpn_client_needs_adapter() { return false; }

void stop_dhcp_service() { log("the VPN client waits for its adapter; no DHCP service to stop"); }

void end_engine_process() {
    kill_processes_by_name("quietway_service");
    ::kill(::getpid(), SIGKILL);
}

}  // namespace quietway
