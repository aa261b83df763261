#pragma once

#include <string>

// What preparing a server needs from the system: path and program names, private files and
// directories, and the host-name lookup.
namespace quietway {

// The separator that paths of this target use.
char path_separator();

// The file name of an outside program in the bin dir ("curl" gives "curl.exe" on Windows).
std::string program_file(const char* base);

// Creates or truncates `path` and writes `data` unchanged. A private file is readable by its
// owner only (root on Linux: the file holds a password).
bool write_whole_file(const std::string& path, const std::string& data, bool private_file);

// Creates the directory and its missing parents; on Linux only its owner may enter it, since
// it receives keys.
bool make_server_directory(const std::string& path);

// Lines this target adds to the end of the OpenVPN configuration: on Linux the program that
// makes the pushed name servers the machine's while the tunnel is up (OpenVPN's up and down
// program, `bin_dir` ending with the separator, its records below `app_data`); on Windows none,
// the client does that itself.
std::string vpn_config_platform_lines(const std::string& bin_dir, const std::string& app_data);

// The first IPv4 address of `host` as dotted text. Safe to call from several threads.
bool resolve_ipv4(const std::string& host, std::string& out);

}  // namespace quietway
