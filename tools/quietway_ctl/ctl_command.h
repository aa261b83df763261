#pragma once

#include <optional>
#include <string>
#include <vector>

namespace quietway::ctl {

// The pipe command for the words on the command line, or nothing when they make no command.
std::optional<int> parse_command(const std::vector<std::string>& words);

// The engine's status in words.
std::string status_words(int status);

inline constexpr int kExitUnreachable = 1;
inline constexpr int kExitUsage = 2;

}  // namespace quietway::ctl
