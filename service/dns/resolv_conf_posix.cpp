#include "service/dns/resolv_conf_posix.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "common/os/file_io_posix.h"
#include "common/os/unique_fd.h"
#include "service/dns/dns_report_posix.h"

namespace quietway::dns {
namespace {

std::string temporary_beside(const std::string& path) {
    const size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    return dir + "/." + name + ".quietway";
}

// Into the file itself, for a bind-mounted one that cannot be replaced.
bool write_in_place(const std::string& path, const std::string& bytes) {
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.valid() || !write_synced(fd.get(), bytes)) {
        report("cannot write %s in place: %s", path.c_str(), std::strerror(errno));
        return false;
    }
    return true;
}

// After a failed rename over `path` (errno `error`): a bind mount is written in place instead.
bool placement_failed(const std::string& path, int error, const std::string* in_place_bytes) {
    if (error == EBUSY && in_place_bytes != nullptr) return write_in_place(path, *in_place_bytes);
    report("cannot replace %s: %s", path.c_str(), std::strerror(error));
    return false;
}

bool replace_file(const std::string& path, const std::string& bytes, mode_t mode, uid_t uid,
                  gid_t gid) {
    AtomicWrite how;
    how.mode = mode & 07777;
    how.owner = uid;
    how.group = gid;
    how.temporary = temporary_beside(path);
    switch (write_file_atomically(AT_FDCWD, path, bytes, how)) {
        case AtomicWriteResult::placed:
            return true;
        case AtomicWriteResult::not_placed:
            return placement_failed(path, errno, &bytes);
        default:
            report("cannot write %s: %s", how.temporary.c_str(), std::strerror(errno));
            return false;
    }
}

bool replace_with_symlink(const std::string& path, const std::string& target) {
    const std::string temporary = temporary_beside(path);
    ::unlink(temporary.c_str());
    if (::symlink(target.c_str(), temporary.c_str()) != 0) {
        report("cannot make the link %s: %s", temporary.c_str(), std::strerror(errno));
        return false;
    }
    if (::rename(temporary.c_str(), path.c_str()) == 0) return true;
    const int error = errno;
    ::unlink(temporary.c_str());
    // A bind-mounted file cannot become a link again; its content is not ours to guess.
    return placement_failed(path, error, nullptr);
}

}  // namespace

bool take_snapshot(const std::string& path, FileSnapshot& out) {
    out = FileSnapshot{};
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) {
        if (errno == ENOENT) return true;
        report("cannot look at %s: %s", path.c_str(), std::strerror(errno));
        return false;
    }
    if (S_ISLNK(info.st_mode)) {
        char target[PATH_MAX];
        const ssize_t n = ::readlink(path.c_str(), target, sizeof target);
        if (n <= 0 || static_cast<size_t>(n) >= sizeof target) {
            report("cannot read the link %s", path.c_str());
            return false;
        }
        out.kind = FileSnapshot::Kind::symlink;
        out.bytes.assign(target, static_cast<size_t>(n));
        return true;
    }
    if (!S_ISREG(info.st_mode)) {
        report("%s is neither a file nor a link; it is left alone", path.c_str());
        return false;
    }
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.valid() || !read_bounded(fd.get(), kMaxResolvConf, out.bytes)) {
        report("cannot read %s (or it is larger than %zu bytes)", path.c_str(), kMaxResolvConf);
        return false;
    }
    out.kind = FileSnapshot::Kind::regular;
    out.mode = info.st_mode & 07777;
    out.uid = info.st_uid;
    out.gid = info.st_gid;
    return true;
}

bool put_back(const std::string& path, const FileSnapshot& snapshot) {
    switch (snapshot.kind) {
        case FileSnapshot::Kind::regular:
            return replace_file(path, snapshot.bytes, snapshot.mode, snapshot.uid, snapshot.gid);
        case FileSnapshot::Kind::symlink:
            return replace_with_symlink(path, snapshot.bytes);
        case FileSnapshot::Kind::absent:
            if (::unlink(path.c_str()) == 0 || errno == ENOENT) return true;
            report("cannot remove %s: %s", path.c_str(), std::strerror(errno));
            return false;
    }
    return false;
}

std::string resolver_text(const std::vector<DnsServer>& servers) {
    std::string text =
        "# Written by quietway_dns while a Quietway tunnel is up: names are resolved by the\n"
        "# DNS servers of the tunnel. The earlier file comes back when the tunnel ends.\n";
    for (const DnsServer& server : servers) text += "nameserver " + server.text + "\n";
    return text;
}

bool write_resolver_file(const std::string& path, const std::string& text) {
    return replace_file(path, text, 0644, ::geteuid(), ::getegid());
}

bool managed_by_resolved(const std::string& path) {
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (resolved == nullptr) return false;
    const std::string target = resolved;
    std::free(resolved);
    return target.rfind("/run/systemd/resolve/", 0) == 0 ||
           target == "/usr/lib/systemd/resolv.conf" || target == "/lib/systemd/resolv.conf";
}

}  // namespace quietway::dns
