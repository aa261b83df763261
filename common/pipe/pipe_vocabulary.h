#pragma once

#include <cstdint>

// What the numbers in a pipe record mean: the commands a client sends and the values a reply
// carries besides the privacy statuses.
namespace quietway {

inline constexpr int32_t kPipeStart = 1;
inline constexpr int32_t kPipeStop = 2;
// Also what the engine does for any command it does not know.
inline constexpr int32_t kPipeStatus = 3;
// kPipeServerBase + N makes server N (1 to kPipeLastServer) the active one.
inline constexpr int32_t kPipeServerBase = 1000;
inline constexpr int32_t kPipeLastServer = 99;

// Status replies: a privacy status, or one of these.
// No engine sends it; clients show it as stopped.
inline constexpr int32_t kReplyStoppedOther = 4;
// Stopped, and no server is active.
inline constexpr int32_t kReplyNoServer = 5;
// Connected, and the same account is in use elsewhere.
inline constexpr int32_t kReplySameUser = 6;

}  // namespace quietway
