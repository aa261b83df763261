#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <string_view>

// Every-byte and whole-file I/O on descriptors, one copy for every program.
namespace quietway {

// Writes every byte, again after EINTR; false on any other failure or when nothing more can
// be written. Only write(2) and errno: a signal handler and a forked child may call it.
bool write_all(int fd, const void* data, size_t size);
inline bool write_all(int fd, std::string_view bytes) {
    return write_all(fd, bytes.data(), bytes.size());
}

// Sends every byte on a stream socket; a peer that has gone is a failure, never a SIGPIPE.
bool send_all(int socket, const void* data, size_t size);

// write_all, then flushes the file to the disk.
bool write_synced(int fd, std::string_view bytes);

// Reads to the end, again after EINTR; false when reading fails or there is more than `limit`
// bytes. It stops one byte past the limit, so an overlong file is never read whole.
bool read_bounded(int fd, size_t limit, std::string& out);

// The temporary files that write_file_atomically names itself begin with this (the store
// hides and clears what a crashed writer left).
inline constexpr std::string_view kTemporaryPrefix = ".tmp.";

// How write_file_atomically makes the file and puts it in place.
struct AtomicWrite {
    mode_t mode = 0600;                    // exactly this, whatever the umask
    uid_t owner = static_cast<uid_t>(-1);  // -1: left as created
    gid_t group = static_cast<gid_t>(-1);
    // Linked in under the name, never replacing a file already there.
    bool keep_existing = false;
    // A fixed name (relative to the same directory descriptor) for the temporary file, which
    // an earlier run may have left and is removed first. Empty: ".tmp.<pid>.<n>" beside the
    // file, fresh for each call, so that writers in several processes never share one.
    std::string temporary;
};

// How far write_file_atomically got; errno holds why when it is not `placed`.
enum class AtomicWriteResult { not_created, not_written, not_placed, placed };

// Writes `bytes` into a new temporary file beside `name` (relative to the directory descriptor
// `dir`, or AT_FDCWD), flushes it to the disk and closes it, and only then renames it over
// `name` (or links it in): a reader sees the old file or the whole new one, and a crash leaves
// one of them. Neither the temporary nor any link is followed, and the temporary file is gone
// afterwards. The directory is not flushed: a caller that needs the new name itself to survive
// a crash calls fsync on it.
AtomicWriteResult write_file_atomically(int dir, const std::string& name, std::string_view bytes,
                                        const AtomicWrite& how);

}  // namespace quietway
