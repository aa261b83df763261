#pragma once

#include <string>

// The systemd unit that "-i" writes for a service program on Linux.
namespace quietway {

// Environment variable that moves the unit directory elsewhere (tests).
inline constexpr const char* kUnitDirEnv = "QUIETWAY_SYSTEMD_UNIT_DIR";
inline constexpr const char* kDefaultUnitDir = "/etc/systemd/system";

struct UnitSettings {
    std::string description;  // the display name
    std::string program;      // absolute path of the service program
    std::string user;         // empty: root
    std::string sandbox;      // [Service] lines, see unit_sandbox()
};

// $QUIETWAY_SYSTEMD_UNIT_DIR, else /etc/systemd/system.
std::string unit_directory();

// "<service name>.service".
std::string unit_name(const char* service_name);

// A user name systemd accepts in User= and that needs no quoting: letters, digits, "_",
// "." and "-", not beginning with "-" or ".", at most 255 characters.
bool is_valid_unit_user(const std::string& name);

// The program path as the first word of ExecStart=, quoted, "%" doubled; false when the path
// is not absolute or holds characters systemd does not accept there (control characters,
// double quotes, backslashes).
bool quote_exec_path(const std::string& path, std::string& out);

// The unit's text; false when a setting cannot be written into a unit.
bool build_unit_text(const UnitSettings& settings, std::string& text);

}  // namespace quietway
