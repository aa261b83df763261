#pragma once

namespace quietway {

// The name of our OpenVPN client's tunnel device on Linux. The client's configuration names
// its device with this name and sets its type to tun (dev-type tun), so the kill switch can
// tell it from the tunnels of other programs: only this device is permitted. At most 15
// bytes, the kernel's limit for a device name.
inline constexpr char kVpnDeviceName[] = "qwaytun0";
static_assert(sizeof kVpnDeviceName <= 16, "a device name has at most 15 bytes");

}  // namespace quietway
