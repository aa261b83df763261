#include "common/service_host/systemd_sandbox.h"

#include "common/service_host/service_names.h"

namespace quietway {
namespace {

// The engine runs as root for its network work only: the tunnel device, routes, DNS and the
// kill switch's nftables table. Everything it starts (OpenVPN, plink, curl, the DNS helper,
// gsettings as the desktop's user) runs under the same settings.
constexpr const char* kEngineSandbox =
    "# /usr and /boot stay read-only; /etc does not: the engine writes the tray's autostart\n"
    "# entry and, where systemd-resolved is not running, /etc/resolv.conf. /var/lib/quietway,\n"
    "# /var/log/quietway and /run/quietway are its state, logs and pipe.\n"
    "ProtectSystem=true\n"
    "ProtectKernelModules=yes\n"
    "ProtectKernelLogs=yes\n"
    "ProtectKernelTunables=yes\n"
    "ProtectControlGroups=yes\n"
    "ProtectHostname=yes\n"
    "# ProtectClock= closes the device list; OpenVPN's tunnel device is the one it needs.\n"
    "ProtectClock=yes\n"
    "DeviceAllow=/dev/net/tun rw\n"
    "# The pipe, D-Bus and the API are local sockets, tunnels use IP, the tunnel device,\n"
    "# routes and nftables netlink.\n"
    "RestrictAddressFamilies=AF_UNIX AF_INET AF_INET6 AF_NETLINK\n"
    "RestrictNamespaces=yes\n"
    "RestrictRealtime=yes\n"
    "RestrictSUIDSGID=yes\n"
    "LockPersonality=yes\n"
    "MemoryDenyWriteExecute=yes\n"
    "SystemCallArchitectures=native\n"
    "# Ordinary network programs, all of them; a refused call fails, it does not kill.\n"
    "SystemCallFilter=@system-service\n"
    "SystemCallErrorNumber=EPERM\n"
    "NoNewPrivileges=yes\n"
    "# Network administration; the API's port is a setting and may be below 1024; the proxy\n"
    "# switch reads the desktop session's environment, runs the settings tool as its user and\n"
    "# kills that tool when it overruns its time; the store's user-writable keys hold files the\n"
    "# tray made.\n"
    "CapabilityBoundingSet=CAP_NET_ADMIN CAP_NET_BIND_SERVICE CAP_SYS_PTRACE CAP_SETUID "
    "CAP_SETGID CAP_KILL CAP_DAC_OVERRIDE CAP_FOWNER CAP_CHOWN\n";

// The updater installs the client's packages (dpkg runs their maintainer scripts under these
// settings), runs the firewall program and starts the tray in the user's session, where the
// tray and whatever it opens (a browser needs namespaces, executable memory and set-user-ID
// helpers) inherit them. So the file system and the devices (the desktop's graphics and
// sound, which ProtectClock= would close) stay open and only the kernel is fenced off.
constexpr const char* kUpdaterSandbox =
    "ProtectKernelModules=yes\n"
    "ProtectKernelLogs=yes\n"
    "ProtectKernelTunables=yes\n"
    "ProtectControlGroups=yes\n"
    "SystemCallArchitectures=native\n";

}  // namespace

std::string unit_sandbox(const std::string& service_name) {
    if (service_name == kEngineServiceNames.service_name) return kEngineSandbox;
    if (service_name == kUpdaterServiceNames.service_name) return kUpdaterSandbox;
    return {};
}

}  // namespace quietway
