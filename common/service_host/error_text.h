#pragma once

#include <cstdint>
#include <string>

namespace quietway {

// The calling thread's last system error code (GetLastError on Windows, errno elsewhere).
uint32_t last_system_error();

// The system's text for an error code, as the host writes it to the event log.
std::string system_error_text(uint32_t code);

// Texts of this length or more are dropped rather than cut.
inline constexpr size_t kErrorTextLimit = 242;

// Applies the event-log rule to a raw system text: the final line break removed, and empty
// when the raw text has kErrorTextLimit characters or more.
std::string trim_error_text(const std::string& raw);

}  // namespace quietway
