#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "common/store/store.h"
#include "common/store/store_tree_posix.h"

namespace quietway::store_tree {

namespace {

constexpr const char* kDefaultRoot = "/var/lib/quietway/registry";
constexpr int kDirectoryFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// Keys open to every user, and keys only root may change.
constexpr mode_t kOpenKeyMode = 0777;
constexpr mode_t kProtectedKeyMode = 0755;

UniqueFd open_root(bool create) {
    const std::string root = root_directory();
    UniqueFd fd(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.valid() || errno != ENOENT || !create) return fd;
    std::error_code error;
    std::filesystem::create_directories(root, error);
    if (error) return UniqueFd();
    return UniqueFd(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

bool is_directory_entry(int key, const dirent& entry) {
    if (entry.d_type != DT_UNKNOWN) return entry.d_type == DT_DIR;
    struct stat info {};
    return ::fstatat(key, entry.d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(info.st_mode);
}

// Creates the subkey unless someone else just did; the permissions are set on the open
// directory so that neither the umask nor a swapped entry can change what gets them.
UniqueFd create_subkey(int parent, const std::string& name, mode_t mode) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        UniqueFd existing = open_subkey(parent, name);
        if (existing.valid() || errno != ENOENT) return existing;
        const std::string entry = key_entry_name(name);
        if (::mkdirat(parent, entry.c_str(), 0700) != 0) {
            if (errno == EEXIST) continue;
            return UniqueFd();
        }
        UniqueFd made(::openat(parent, entry.c_str(), kDirectoryFlags));
        if (made.valid() && ::fchmod(made.get(), mode) != 0) return UniqueFd();
        if (made.valid()) ::fsync(parent);
        return made;
    }
    return UniqueFd();
}

}  // namespace

std::string root_directory() {
    const char* configured = std::getenv(kRegistryEnv);
    return (configured != nullptr && *configured != '\0') ? configured : kDefaultRoot;
}

bool for_each_entry(int key, const std::function<bool(const std::string&, bool)>& visit) {
    // A descriptor of its own, so that reading the listing never moves another one's offset.
    const int listing = ::openat(key, ".", kDirectoryFlags);
    if (listing < 0) return false;
    DIR* directory = ::fdopendir(listing);
    if (directory == nullptr) {
        ::close(listing);
        return false;
    }
    bool go_on = true;
    while (go_on) {
        errno = 0;
        const dirent* entry = ::readdir(directory);
        if (entry == nullptr) break;
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        go_on = visit(name, is_directory_entry(key, *entry));
    }
    const bool complete = errno == 0 || !go_on;
    ::closedir(directory);
    return complete;
}

UniqueFd open_subkey(int parent, std::string_view name, std::string* entry) {
    const std::string exact = key_entry_name(name);
    UniqueFd fd(::openat(parent, exact.c_str(), kDirectoryFlags));
    if (fd.valid() || errno != ENOENT) {
        if (fd.valid() && entry != nullptr) *entry = exact;
        return fd;
    }
    std::string found;
    for_each_entry(parent, [&](const std::string& candidate, bool is_directory) {
        std::string key_name;
        if (is_directory && decode_key_entry(candidate, key_name) && same_name(key_name, name))
            found = candidate;
        return found.empty();
    });
    if (found.empty()) {
        errno = ENOENT;
        return UniqueFd();
    }
    fd.reset(::openat(parent, found.c_str(), kDirectoryFlags));
    if (fd.valid() && entry != nullptr) *entry = found;
    return fd;
}

bool open_key_in_parent(const char* path, KeyInParent& out) {
    std::vector<std::string> names;
    if (!split_path(path, names) || names.empty()) return false;
    const std::string last = names.back();
    names.pop_back();
    out.parent = open_key(names);
    if (!out.parent.valid()) return false;
    out.key = open_subkey(out.parent.get(), last, &out.entry);
    return out.key.valid();
}

UniqueFd open_key(const std::vector<std::string>& names, std::string* entries) {
    UniqueFd key = open_root(false);
    std::string entry;
    for (const std::string& name : names) {
        if (!key.valid()) break;
        key = open_subkey(key.get(), name, &entry);
        if (entries != nullptr) entries->append("/").append(entry);
    }
    return key;
}

UniqueFd open_key(const char* path) {
    std::vector<std::string> names;
    if (!split_path(path, names)) return UniqueFd();
    return open_key(names);
}

UniqueFd make_key(const char* path) {
    std::vector<std::string> names;
    if (!split_path(path, names)) return UniqueFd();
    UniqueFd key = open_root(true);
    std::string reached;
    for (const std::string& name : names) {
        if (!key.valid()) break;
        reached += reached.empty() ? name : "\\" + name;
        key =
            create_subkey(key.get(), name, is_open_key(reached) ? kOpenKeyMode : kProtectedKeyMode);
    }
    return key;
}

bool list_subkeys(int key, std::vector<std::string>& names) {
    std::vector<std::string> found;
    const bool listed = for_each_entry(key, [&](const std::string& entry, bool is_directory) {
        std::string name;
        if (is_directory && decode_key_entry(entry, name)) found.push_back(std::move(name));
        return true;
    });
    if (!listed) return false;
    std::sort(found.begin(), found.end(),
              [](const std::string& a, const std::string& b) { return name_before(a, b); });
    names = std::move(found);
    return true;
}

bool remove_values(int key) {
    std::vector<std::string> doomed;
    const bool listed = for_each_entry(key, [&](const std::string& entry, bool is_directory) {
        std::string name;
        if (!is_directory && (decode_value_entry(entry, name) || is_temporary_entry(entry)))
            doomed.push_back(entry);
        return true;
    });
    bool removed = listed;
    for (const std::string& entry : doomed) {
        if (::unlinkat(key, entry.c_str(), 0) != 0 && errno != ENOENT) removed = false;
    }
    return removed;
}

}  // namespace quietway::store_tree
