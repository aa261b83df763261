#pragma once

#include <string>

#include "common/os/unique_fd.h"

namespace quietway {

// One tray per user session: an exclusive lock on a file in the user's runtime directory
// ($XDG_RUNTIME_DIR, else a per-user file in /tmp). The kernel drops the lock when the process
// ends, however it ends.
class SingleInstance {
public:
    // Takes the lock.
    SingleInstance();
    // Another process of this user holds the lock: this one is the second instance.
    bool held_elsewhere() const { return held_elsewhere_; }
    bool acquired() const { return lock_.valid(); }
    const std::string& path() const { return path_; }

private:
    std::string path_;
    UniqueFd lock_;
    bool held_elsewhere_ = false;
};

// Name of the lock file inside the runtime directory.
inline constexpr const char* kTrayLockFile = "quietway-tray.lock";

}  // namespace quietway
