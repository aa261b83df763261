#include "service/dns/dns_state_posix.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>

#include "common/os/file_io_posix.h"
#include "service/dns/dns_report_posix.h"

namespace quietway::dns {
namespace {

constexpr const char* kLockFile = "lock";
constexpr const char* kMagic = "quietway-dns 1 ";
// A record holds one resolver file at most, and a line.
constexpr size_t kMaxRecord = kMaxResolvConf + 128;

bool parse_number(const std::string& text, int base, long& out) {
    const char* first = text.data();
    const char* last = first + text.size();
    const auto [end, error] = std::from_chars(first, last, out, base);
    return !text.empty() && error == std::errc() && end == last;
}

// The first line (without its break) and what follows it.
bool split_header(const std::string& record, std::string& header, std::string& body) {
    const size_t end = record.find('\n');
    if (record.rfind(kMagic, 0) != 0 || end == std::string::npos) return false;
    header = record.substr(std::strlen(kMagic), end - std::strlen(kMagic));
    body = record.substr(end + 1);
    return true;
}

}  // namespace

std::string state_dir_of(const std::string& app_data) { return app_data + "/dns"; }

bool StateDir::open(const std::string& path, bool create) {
    path_ = path;
    if (create && ::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
        report("cannot make %s: %s", path.c_str(), std::strerror(errno));
        return false;
    }
    dir_.reset(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!dir_.valid()) {
        if (errno != ENOENT || create) {
            report("cannot open %s: %s", path.c_str(), std::strerror(errno));
        }
        return false;
    }
    struct stat info {};
    if (::fstat(dir_.get(), &info) != 0 || info.st_uid != ::geteuid() ||
        (info.st_mode & 022) != 0) {
        report("%s may be changed by others than its owner; it is not used", path.c_str());
        dir_.reset();
        return false;
    }
    lock_.reset(::openat(dir_.get(), kLockFile, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    while (lock_.valid() && ::flock(lock_.get(), LOCK_EX) != 0) {
        if (errno != EINTR) lock_.reset();
    }
    if (!lock_.valid()) {
        report("cannot lock %s: %s", path.c_str(), std::strerror(errno));
        dir_.reset();
        return false;
    }
    return true;
}

bool StateDir::has(const char* record) const {
    struct stat info {};
    return ::fstatat(dir_.get(), record, &info, AT_SYMLINK_NOFOLLOW) == 0;
}

bool StateDir::save(const char* record, const std::string& bytes) {
    AtomicWrite how;
    how.temporary = std::string(record) + ".new";
    const bool ok =
        write_file_atomically(dir_.get(), record, bytes, how) == AtomicWriteResult::placed &&
        ::fsync(dir_.get()) == 0;
    if (!ok) report("cannot save %s/%s: %s", path_.c_str(), record, std::strerror(errno));
    return ok;
}

bool StateDir::load(const char* record, std::string& bytes) const {
    UniqueFd fd(::openat(dir_.get(), record, O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (fd.valid() && read_bounded(fd.get(), kMaxRecord, bytes)) return true;
    report("cannot read %s/%s", path_.c_str(), record);
    return false;
}

bool StateDir::remove(const char* record) {
    if ((::unlinkat(dir_.get(), record, 0) != 0 && errno != ENOENT) || ::fsync(dir_.get()) != 0) {
        report("cannot remove %s/%s: %s", path_.c_str(), record, std::strerror(errno));
        return false;
    }
    return true;
}

std::string file_record(const FileSnapshot& snapshot) {
    switch (snapshot.kind) {
        case FileSnapshot::Kind::regular: {
            char header[96];
            std::snprintf(header, sizeof header, "%sfile %o %u %u\n", kMagic,
                          static_cast<unsigned>(snapshot.mode), static_cast<unsigned>(snapshot.uid),
                          static_cast<unsigned>(snapshot.gid));
            return header + snapshot.bytes;
        }
        case FileSnapshot::Kind::symlink:
            return std::string(kMagic) + "symlink\n" + snapshot.bytes;
        case FileSnapshot::Kind::absent:
            break;
    }
    return std::string(kMagic) + "absent\n";
}

bool parse_file_record(const std::string& record, FileSnapshot& out) {
    out = FileSnapshot{};
    std::string header;
    if (!split_header(record, header, out.bytes)) return false;
    if (header == "absent") return out.bytes.empty();
    if (header == "symlink") {
        out.kind = FileSnapshot::Kind::symlink;
        return !out.bytes.empty() && out.bytes.find('\0') == std::string::npos;
    }
    char mode[16] = {};
    char uid[16] = {};
    char gid[16] = {};
    long values[3] = {};
    if (std::sscanf(header.c_str(), "file %15s %15s %15s", mode, uid, gid) != 3 ||
        !parse_number(mode, 8, values[0]) || !parse_number(uid, 10, values[1]) ||
        !parse_number(gid, 10, values[2]) || values[0] > 07777) {
        return false;
    }
    out.kind = FileSnapshot::Kind::regular;
    out.mode = static_cast<mode_t>(values[0]);
    out.uid = static_cast<uid_t>(values[1]);
    out.gid = static_cast<gid_t>(values[2]);
    return true;
}

std::string link_record(int index, const std::string& device) {
    return std::string(kMagic) + "link " + std::to_string(index) + " " + device + "\n";
}

bool parse_link_record(const std::string& record, int& index, std::string& device) {
    std::string header;
    std::string rest;
    if (!split_header(record, header, rest) || !rest.empty() || header.rfind("link ", 0) != 0) {
        return false;
    }
    const size_t blank = header.find(' ', 5);
    long number = 0;
    if (blank == std::string::npos || !parse_number(header.substr(5, blank - 5), 10, number) ||
        number <= 0 || number > 0x7FFFFFFF) {
        return false;
    }
    index = static_cast<int>(number);
    device = header.substr(blank + 1);
    return is_device_name(device);
}

}  // namespace quietway::dns
