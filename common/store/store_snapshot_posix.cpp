#include <fcntl.h>
#include <sys/stat.h>

#include <ctime>
#include <map>
#include <mutex>

#include "common/store/store.h"
#include "common/store/store_limits.h"
#include "common/store/store_tree_posix.h"

namespace quietway::store_tree {

namespace {

// A directory changed within this long before a snapshot began is read anew next time: a
// change in the same tick of the file system's clock would leave its times as they were,
// and a rename sets them a moment before its new name can be looked up.
constexpr time_t kSettledSeconds = 2;
// Kept snapshots, and the size of one worth keeping; beyond them keys are read each time.
constexpr size_t kMaxKept = 4096;
constexpr size_t kMaxKeptValues = 256;

struct DirectoryState {
    dev_t device = 0;
    ino_t inode = 0;
    timespec changed{};
    timespec modified{};
    bool operator==(const DirectoryState& other) const {
        return device == other.device && inode == other.inode &&
               changed.tv_sec == other.changed.tv_sec && changed.tv_nsec == other.changed.tv_nsec &&
               modified.tv_sec == other.modified.tv_sec &&
               modified.tv_nsec == other.modified.tv_nsec;
    }
};

DirectoryState state_of(const struct stat& info) {
    return {info.st_dev, info.st_ino, info.st_ctim, info.st_mtim};
}

struct Kept {
    std::string directory;  // its path, to look at its times again
    DirectoryState state;
    std::shared_ptr<const KeySnapshot> snapshot;
};

std::mutex kept_mutex;
std::map<std::string, Kept> kept;

// Paths name a key whatever the case of their letters.
std::string kept_name(const std::string& root, const char* path) {
    std::string name = root + '\n';
    for (const char* c = path; *c != '\0'; ++c) {
        name += (*c >= 'a' && *c <= 'z') ? static_cast<char>(*c - 'a' + 'A') : *c;
    }
    return name;
}

std::shared_ptr<const KeySnapshot> still_valid(const std::string& name) {
    Kept found;
    {
        std::lock_guard<std::mutex> lock(kept_mutex);
        const auto it = kept.find(name);
        if (it == kept.end()) return nullptr;
        found = it->second;
    }
    struct stat info {};
    if (::fstatat(AT_FDCWD, found.directory.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISDIR(info.st_mode) || !(state_of(info) == found.state))
        return nullptr;
    return found.snapshot;
}

bool read_snapshot(int key, KeySnapshot& out) {
    bool readable = list_subkeys(key, out.subkeys);
    return readable && for_each_entry(key, [&](const std::string& entry, bool is_directory) {
               std::string name;
               ValueData value;
               // A value that cannot be read is left out, as a read of it alone would fail.
               if (!is_directory && decode_value_entry(entry, name) &&
                   read_value_entry(key, entry, kMaxStringValue, value))
                   out.values.emplace_back(std::move(name), std::move(value));
               return true;
           });
}

}  // namespace

const ValueData* KeySnapshot::find(std::string_view name) const {
    for (const auto& [stored, value] : values) {
        if (same_name(stored, name)) return &value;
    }
    return nullptr;
}

std::shared_ptr<const KeySnapshot> snapshot_key(const char* path) {
    if (path == nullptr) return nullptr;
    const std::string root = root_directory();
    const bool keep = !is_open_key(path);
    const std::string name = kept_name(root, path);
    // Only a path that was split without fault before has a kept snapshot.
    if (keep) {
        if (auto snapshot = still_valid(name)) return snapshot;
    }
    std::vector<std::string> names;
    if (!split_path(path, names)) return nullptr;
    // Read before the directory's times, so that a change after them shows as a later time.
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME_COARSE, &now);
    std::string entries;
    const UniqueFd key = open_key(names, &entries);
    struct stat info {};
    auto snapshot = std::make_shared<KeySnapshot>();
    if (!key.valid() || ::fstat(key.get(), &info) != 0 || !read_snapshot(key.get(), *snapshot))
        return nullptr;
    const bool settled = info.st_ctim.tv_sec + kSettledSeconds < now.tv_sec &&
                         info.st_mtim.tv_sec + kSettledSeconds < now.tv_sec;
    if (keep && settled && snapshot->values.size() <= kMaxKeptValues) {
        std::lock_guard<std::mutex> lock(kept_mutex);
        if (kept.size() >= kMaxKept) kept.clear();
        kept[name] = Kept{root + entries, state_of(info), snapshot};
    }
    return snapshot;
}

}  // namespace quietway::store_tree
