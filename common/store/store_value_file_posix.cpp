#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

#include "common/store/store.h"
#include "common/store/store_admin.h"
#include "common/store/store_limits.h"
#include "common/store/store_tree_posix.h"

namespace quietway::store_tree {

// A value file holds one header line naming the type, then the data bytes exactly as the
// registry would hold them (a number as 4 bytes, little-endian).
namespace {

constexpr std::string_view kStringHeader = "REG_SZ\n";
constexpr std::string_view kDwordHeader = "REG_DWORD\n";
constexpr size_t kLongestHeader = 16;

std::string_view header_of(uint32_t type) {
    if (type == kValueTypeString) return kStringHeader;
    if (type == kValueTypeDword) return kDwordHeader;
    return {};
}

bool parse_value_file(const std::string& content, size_t limit, ValueData& out) {
    for (const uint32_t type : {kValueTypeString, kValueTypeDword}) {
        const std::string_view header = header_of(type);
        if (!std::string_view(content).starts_with(header)) continue;
        if (content.size() - header.size() > limit) return false;
        out.type = type;
        out.data.assign(content, header.size());
        return true;
    }
    return false;
}

// Reads at most `limit` + 1 bytes, so that an overlong file is seen without reading it all;
// the buffer grows as the data comes.
bool read_bounded(int fd, size_t limit, std::string& content) {
    content.assign(std::min<size_t>(limit + 1, 1024), '\0');
    size_t filled = 0;
    for (;;) {
        if (filled == content.size()) {
            if (content.size() == limit + 1) break;
            content.resize(std::min(limit + 1, content.size() * 2));
        }
        const ssize_t got = ::read(fd, content.data() + filled, content.size() - filled);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return false;
        if (got == 0) break;
        filled += static_cast<size_t>(got);
    }
    content.resize(filled);
    return true;
}

bool write_all(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t put = ::write(fd, bytes.data(), bytes.size());
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        bytes.remove_prefix(static_cast<size_t>(put));
    }
    return true;
}

std::string temporary_entry_name() {
    static std::atomic<unsigned long> counter{0};
    return ".tmp." + std::to_string(::getpid()) + "." + std::to_string(++counter);
}

// Creates a fresh temporary file in the key, with exactly `mode` whatever the umask.
UniqueFd create_temporary(int key, mode_t mode, std::string& entry) {
    for (int attempt = 0; attempt < 8; ++attempt) {
        entry = temporary_entry_name();
        UniqueFd fd(::openat(key, entry.c_str(),
                             O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
        if (!fd.valid() && errno == EEXIST) continue;  // left behind by a crashed writer
        if (fd.valid() && ::fchmod(fd.get(), mode) != 0) {
            ::unlinkat(key, entry.c_str(), 0);
            return UniqueFd();
        }
        return fd;
    }
    return UniqueFd();
}

bool fill_and_close(UniqueFd file, std::string_view header, std::string_view data) {
    std::string content(header);
    content.append(data);
    if (!write_all(file.get(), content) || ::fsync(file.get()) != 0) return false;
    return ::close(file.release()) == 0;
}

}  // namespace

bool find_value_entry(int key, std::string_view name, std::string& entry) {
    const std::string exact = value_entry_name(name);
    struct stat info {};
    if (::fstatat(key, exact.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0) {
        if (!S_ISREG(info.st_mode)) return false;
        entry = exact;
        return true;
    }
    if (errno != ENOENT) return false;
    std::string found;
    for_each_entry(key, [&](const std::string& candidate, bool is_directory) {
        std::string value_name;
        if (!is_directory && decode_value_entry(candidate, value_name) &&
            same_name(value_name, name))
            found = candidate;
        return found.empty();
    });
    if (found.empty()) return false;
    entry = std::move(found);
    return true;
}

bool read_value_entry(int key, const std::string& entry, size_t limit, ValueData& out) {
    // Non-blocking and regular files only: a pipe planted in an open key must not hang a reader.
    UniqueFd file(::openat(key, entry.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat info {};
    if (!file.valid() || ::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
    std::string content;
    if (!read_bounded(file.get(), limit + kLongestHeader, content)) return false;
    return parse_value_file(content, limit, out);
}

bool read_value(int key, std::string_view name, size_t limit, ValueData& out) {
    std::string entry;
    return find_value_entry(key, name, entry) && read_value_entry(key, entry, limit, out);
}

bool is_secret_value(std::string_view key_path, std::string_view name) {
    static constexpr std::string_view kSecrets[][2] = {{"general", "password"},
                                                       {"http", "rpc_password"}};
    const std::string_view root(kStoreRoot);
    if (key_path.size() <= root.size() + 1 ||
        !same_store_name(key_path.substr(0, root.size()), root) || key_path[root.size()] != '\\')
        return false;
    const std::string_view section = key_path.substr(root.size() + 1);
    for (const auto& secret : kSecrets) {
        if (same_store_name(section, secret[0]) && same_store_name(name, secret[1])) return true;
    }
    return false;
}

bool write_value(int key, std::string_view name, uint32_t type, std::string_view data,
                 bool secret) {
    const std::string_view header = header_of(type);
    struct stat key_info {};
    if (header.empty() || !value_name_fits(name) || ::fstat(key, &key_info) != 0) return false;
    std::string target;
    if (!find_value_entry(key, name, target)) target = value_entry_name(name);

    std::string temporary;
    // The temporary file already has the final mode, so a secret is never readable by others,
    // not even for a moment.
    UniqueFd file =
        create_temporary(key, secret ? S_IRUSR | S_IWUSR : key_info.st_mode & 0666, temporary);
    if (!file.valid()) return false;
    // Written and flushed in full before the rename, so a reader sees the old value or the new
    // one and a crash leaves one of them.
    if (!fill_and_close(std::move(file), header, data) ||
        ::renameat(key, temporary.c_str(), key, target.c_str()) != 0) {
        ::unlinkat(key, temporary.c_str(), 0);
        return false;
    }
    ::fsync(key);
    return true;
}

}  // namespace quietway::store_tree
