#pragma once

#include <string>

#include "common/os/unique_fd.h"
#include "service/dns/resolv_conf_posix.h"

// Where the resolver configuration a tunnel replaced is kept until the tunnel ends: a directory
// below the data directory that only root can write. It is on disk, not in /run, because the
// resolver file we write is on disk too: after a power cut the next engine start still finds
// what to put back. Every change to it is flushed before the resolver is touched, and one lock
// keeps the up and down programs and the engine from acting at the same time.
namespace quietway::dns {

// The state directory for the data directory `app_data`.
std::string state_dir_of(const std::string& app_data);

// The saved resolver file and the device whose per-link settings we made.
inline constexpr const char* kSavedFileRecord = "resolv.conf.saved";
inline constexpr const char* kLinkRecord = "link";

class StateDir {
public:
    // Opens (with `create`, makes) the directory and takes its lock, waiting for it. False when
    // it is missing (and not to be made), or when anyone but its owner could change it.
    bool open(const std::string& path, bool create);

    bool has(const char* record) const;
    // Written to a temporary file, flushed and renamed, so a record is whole or absent.
    bool save(const char* record, const std::string& bytes);
    bool load(const char* record, std::string& bytes) const;
    bool remove(const char* record);

private:
    std::string path_;
    UniqueFd dir_;
    UniqueFd lock_;
};

std::string file_record(const FileSnapshot& snapshot);
bool parse_file_record(const std::string& record, FileSnapshot& out);

std::string link_record(int index, const std::string& device);
bool parse_link_record(const std::string& record, int& index, std::string& device);

}  // namespace quietway::dns
