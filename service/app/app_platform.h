#pragma once

#include <string>

// What the engine does differently on each platform.
namespace quietway {

// Environment variable that moves the tray's autostart entry elsewhere on Linux (tests).
inline constexpr const char* kAutostartDirEnv = "QUIETWAY_AUTOSTART_DIR";

// The sockets library (Windows); nothing to do elsewhere.
bool start_sockets();
void release_sockets();

// Makes the tray start in every user's session: the registry's Run value on Windows, an XDG
// autostart entry on Linux. False when it could not be written (the reason is logged).
bool write_tray_autostart(const std::string& app_dir);

// Ends the VPN clients an earlier run of the engine left behind. On Linux only the clients
// whose command line names a configuration under `conf_dir`; other programs' are left alone.
void end_leftover_vpn_clients(const std::string& conf_dir);

// Whether the VPN client needs a VPN adapter to be installed before it starts: a TAP-style
// adapter on Windows; on Linux the client makes its own device.
bool vpn_client_needs_adapter();

// The VPN client waits for its adapter: the DHCP service is stopped where there is one.
void stop_dhcp_service();

// Ends this process (and any other engine process) at once, without cleanup, so that the
// next start restores the session.
void end_engine_process();

}  // namespace quietway
