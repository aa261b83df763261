#pragma once

#include <cstdint>

// The privacy status of the engine's session: what the engine stores as `privacy_status` of
// section "app" and reports on the pipe and the control API.
namespace quietway {

// Nothing known yet: the updater writes it when it starts, and the tray shows it until the
// engine first answers.
inline constexpr int32_t kPrivacyNone = 0;
inline constexpr int32_t kPrivacyStopped = 1;
inline constexpr int32_t kPrivacyConnecting = 2;
inline constexpr int32_t kPrivacyConnected = 3;

}  // namespace quietway
