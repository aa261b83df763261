#include <winsock2.h>

#include <string>

#include "common/process/launcher.h"
#include "common/store/store.h"
#include "service/app/app_platform.h"

namespace quietway {

bool start_sockets() {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

void release_sockets() { WSACleanup(); }

bool write_tray_autostart(const std::string& app_dir) {
    return create_reg_string(RootKey::local_machine,
                             "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", "QuietwayTray",
                             app_dir + "\\bin\\quietway_tray.exe");
}

void end_leftover_vpn_clients(const std::string&) {
    run_shell_command("taskkill.exe /f /IM openvpn.exe");
}

bool vpn_client_needs_adapter() { return true; }

void stop_dhcp_service() { run_shell_command("net.exe stop /y Dhcp"); }

void end_engine_process() { run_shell_command("taskkill.exe /f /IM quietway_service.exe"); }

}  // namespace quietway
