#pragma once

#include <string>
#include <vector>

#include "common/process/session_user_posix.h"

// The Linux side of the proxy switch: the desktop's proxy settings (org.gnome.system.proxy),
// changed by the user's own settings tool inside the user's session, so that the desktop's
// settings service writes the user's files and tells running programs.
namespace quietway::posix {

// Longest a single run of the settings tool may take; a session bus that does not answer
// must not hold up the caller for good.
inline constexpr unsigned kSettingsToolTimeLimitMs = 10000;

// Sets the desktop proxy of `who`: "manual" with HTTP and HTTPS on 127.0.0.1 and `port` and
// local names bypassed, or "none". True when the settings read back the new mode afterwards.
// `on` with a `port` that is not a port number changes nothing and gives false.
bool apply_desktop_proxy(const ConsoleUser& who, const std::string& port, bool on);

}  // namespace quietway::posix
