#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "common/os/unique_fd.h"
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
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd.get(), data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool make_server_directory(const std::string& path) {
    std::error_code error;
    std::filesystem::create_directories(path, error);
    if (!std::filesystem::is_directory(path, error)) return false;
    return ::chmod(path.c_str(), 0700) == 0;
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
