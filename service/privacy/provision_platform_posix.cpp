#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "common/os/file_io_posix.h"
#include "common/os/unique_fd.h"
#include "service/dns/dns_state_posix.h"
#include "service/privacy/provision_platform.h"
#include "service/privacy/provision_text.h"

namespace quietway {

TargetForm native_form() { return TargetForm::posix; }

char path_separator() { return '/'; }

std::string program_file(const char* base) { return base; }

bool write_whole_file(const std::string& path, const std::string& data, bool private_file) {
    const mode_t mode = private_file ? 0600 : 0644;
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, mode));
    if (fd.get() < 0) return false;
    // An existing file keeps its old mode through O_CREAT: set it again.
    if (private_file && ::fchmod(fd.get(), 0600) != 0) return false;
    return write_all(fd.get(), data);
}

bool make_server_directory(const std::string& path) {
    std::error_code error;
    std::filesystem::create_directories(path, error);
    if (!std::filesystem::is_directory(path, error)) return false;
    return ::chmod(path.c_str(), 0700) == 0;
}

std::string vpn_config_platform_lines(const std::string& bin_dir, const std::string& app_data) {
    // OpenVPN reads the command twice, as the option's quoted argument and then as a command
    // line of its own, so each path is quoted for the second reading and the whole for the first.
    const auto command = [&](const char* action) {
        const std::string line = "\"" + quote_escaped(bin_dir + "quietway_dns") + "\" " + action +
                                 " \"" + quote_escaped(dns::state_dir_of(app_data)) + "\"";
        return "\"" + quote_escaped(line) + "\"\n";
    };
    return "script-security 2\nup " + command("up") + "down " + command("down");
}

bool resolve_ipv4(const std::string& host, std::string& out) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) {
        return false;
    }
    char text[INET_ADDRSTRLEN] = {};
    const auto* address = reinterpret_cast<const sockaddr_in*>(found->ai_addr);
    const bool ok = ::inet_ntop(AF_INET, &address->sin_addr, text, sizeof(text)) != nullptr;
    ::freeaddrinfo(found);
    if (ok) out = text;
    return ok;
}

}  // namespace quietway
