#pragma once

#include <cstdint>

namespace quietway {

// Privacy status values of the running session, as the engine stores and reports them.
inline constexpr int32_t kPrivacyStopped = 1;
inline constexpr int32_t kPrivacyConnecting = 2;
inline constexpr int32_t kPrivacyConnected = 3;

}  // namespace quietway
