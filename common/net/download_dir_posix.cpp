#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "common/log/rotating_log.h"
#include "common/net/download_dir.h"
#include "common/net/downloader.h"
#include "common/os/unique_fd.h"

namespace quietway {
namespace {

constexpr const char* kDefaultDownloadDir = "/var/cache/quietway/downloads";
constexpr size_t kMaxDirLength = 200;

// Creates each missing component as rwxr-xr-x whatever the umask.
bool make_directories(const std::string& dir) {
    for (size_t at = 1; at <= dir.size(); ++at) {
        if (at != dir.size() && dir[at] != '/') continue;
        const std::string part = dir.substr(0, at);
        if (mkdir(part.c_str(), 0755) == 0) {
            if (chmod(part.c_str(), 0755) != 0) return false;
        } else if (errno != EEXIST) {
            return false;
        }
    }
    return true;
}

// Ours, a real directory (not a link to one), and nobody else may put files in it.
bool is_safe(const std::string& dir) {
    struct stat info {};
    if (lstat(dir.c_str(), &info) != 0) return false;
    return S_ISDIR(info.st_mode) && info.st_uid == geteuid() && (info.st_mode & 022) == 0;
}

}  // namespace

std::string download_dir() {
    const char* chosen = std::getenv(kDownloadDirEnv);
    std::string dir = chosen != nullptr && *chosen != '\0' ? chosen : kDefaultDownloadDir;
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    if (dir.empty() || dir.front() != '/' || dir.size() > kMaxDirLength) {
        log("Download directory refused: not an absolute path of at most %d characters",
            static_cast<int>(kMaxDirLength));
        return {};
    }
    if (!make_directories(dir) || !is_safe(dir)) {
        log("Download directory %s refused: not a directory of this user's that only it may "
            "write",
            dir.c_str());
        return {};
    }
    return dir + "/";
}

void delete_download(const std::string& path) { unlink(path.c_str()); }

struct DownloadHold::Impl {
    UniqueFd file;
};

DownloadHold::DownloadHold(const std::string& path) : impl_(std::make_unique<Impl>()) {
    impl_->file.reset(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
}

DownloadHold::~DownloadHold() = default;

bool DownloadHold::held() const { return impl_->file.valid(); }

}  // namespace quietway
