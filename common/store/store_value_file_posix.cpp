#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "common/os/file_io_posix.h"
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

    std::string content(header);
    content.append(data);
    // The temporary file already has the final mode, so a secret is never readable by others,
    // not even for a moment; a reader sees the old value or the new one and a crash leaves one
    // of them.
    AtomicWrite how;
    how.mode = secret ? S_IRUSR | S_IWUSR : key_info.st_mode & 0666;
    if (write_file_atomically(key, target, content, how) != AtomicWriteResult::placed) return false;
    // So that the rename survives a crash too; it cannot be undone, so this does not decide.
    ::fsync(key);
    return true;
}

}  // namespace quietway::store_tree
