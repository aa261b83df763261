#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <vector>

#include "service/dns/pushed_dns_posix.h"

// The resolver file (/etc/resolv.conf): what it was, ours in its place, and the old one put
// back exactly. It is replaced by rename where it can be; where it is a bind mount (a
// container's, or the one "ip netns exec" mounts), rename fails with EBUSY and it is written in
// place instead.
namespace quietway::dns {

inline constexpr const char* kResolvConf = "/etc/resolv.conf";
// Larger resolver files are not taken over: they could not be kept exactly.
inline constexpr size_t kMaxResolvConf = 64 * 1024;

struct FileSnapshot {
    enum class Kind { absent, regular, symlink };
    Kind kind = Kind::absent;
    std::string bytes;  // the content, or the link's target
    mode_t mode = 0644;
    uid_t uid = 0;
    gid_t gid = 0;
};

// What is at `path` now. False (reported) when it cannot be kept exactly: another kind of
// file, too large, unreadable.
bool take_snapshot(const std::string& path, FileSnapshot& out);

// Makes `path` what the snapshot says.
bool put_back(const std::string& path, const FileSnapshot& snapshot);

// Our resolver file: the tunnel's servers, nothing else.
std::string resolver_text(const std::vector<DnsServer>& servers);

// Writes `text` as a root-owned file readable by all at `path`.
bool write_resolver_file(const std::string& path, const std::string& text);

// Whether `path` leads to systemd-resolved's own file (its stub or its list of servers), so that
// per-link settings decide which servers are asked.
bool managed_by_resolved(const std::string& path);

}  // namespace quietway::dns
