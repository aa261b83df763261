#pragma once

#include <cstddef>
#include <string>
#include <vector>

// The texts that preparing a server produces: the OpenVPN configuration, the credentials
// file, curl's option text and the FTP file path. Both targets' forms are built here so that
// each can be checked on either target.
namespace quietway {

enum class TargetForm {
    windows,  // backslashes, CR LF line breaks, the configuration as the service has always had
    posix,    // Linux: slashes, LF, our own tun device, block-outside-dns skipped by the client
};

// The form of the target this is built for.
TargetForm native_form();

// Capacities of the texts the service has always built in fixed buffers (terminator
// included). Anything that does not fit fails that server rather than being cut.
inline constexpr size_t kDownloadCommandCapacity = 2048;
inline constexpr size_t kHostKeyCommandCapacity = 1536;
inline constexpr size_t kPathCapacity = 260;

// Backslash and double quote escaped, as OpenVPN reads a double-quoted configuration
// argument. On Windows paths this is the doubling of every backslash.
std::string quote_escaped(const std::string& text);

// "vpn_conf.ovpn": `server_dir` ends with the target's separator. Empty (refused) when
// `address_ip` is not a dotted IPv4 address or the user name holds a line break: no value may
// add lines of its own.
std::string vpn_config_text(TargetForm form, const std::string& server_dir, const std::string& user,
                            const std::string& address_ip, const std::string& vpn_port);

// "auth.cfg": the user name, a line break, the password, no line break at the end.
std::string auth_text(TargetForm form, const std::string& user, const std::string& password);

// curl's option text for standard input ("-K -"), which keeps the password off the command
// line: `user = "name:password"` with backslash, quote and line breaks escaped.
std::string curl_user_option(const std::string& user, const std::string& password);

// curl's --write-out text: one line after each transfer with that transfer's exit code.
inline constexpr const char* kCurlTransferFormat = "quietway-transfer %{exitcode}\n";

// The exit codes of the transfers curl reported with kCurlTransferFormat, in their order, at
// most `limit` of them; its own messages around them are skipped.
std::vector<int> curl_transfer_codes(const std::string& output, size_t limit);

// Whether `address` can be handed to curl and plink as a host: letters, digits, '.', '-' and
// '_', not starting with '-' (it would read as an option).
bool is_host_text(const std::string& address);

// Whether a user name can be part of the key files' names without leaving the server's
// directory: no path separator of either platform.
bool is_file_name_part(const std::string& user);

// Whether `text` stays on its line of a written file: no CR and no LF.
bool is_one_line(const std::string& text);

// Lengths of the commands the service used to format, to refuse what would not have fit.
size_t download_command_length(const std::string& bin_dir, const std::string& user,
                               const std::string& password, const std::string& address,
                               const std::string& ftp_port, const std::string& file,
                               const std::string& server_dir);
size_t host_key_command_length(const std::string& bin_dir, const std::string& ssh_port,
                               const std::string& user, const std::string& password,
                               const std::string& address);

}  // namespace quietway
