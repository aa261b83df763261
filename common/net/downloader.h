#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

// The updater's downloads: files (installers, banner images) and short texts (the version
// record).
namespace quietway {

// Streams `url` into the file at `path` (agent "downloader", 10240-byte reads). With `reload`
// the file is truncated first; without it a file that already holds exactly the announced
// length is taken as complete, and any other file is started over. `abort` (may be null) is
// read before every read. True when the file holds the complete resource.
bool download_file(const std::string& url, bool reload, const std::atomic<uint8_t>* abort,
                   const std::string& path);

// The directory the updater downloads into, with a trailing separator, created on demand: one
// that only its owner (root, SYSTEM) and the administrators may write and every user may read
// ($QUIETWAY_DOWNLOAD_DIR for tests, else /var/cache/quietway/downloads/ on Linux and
// Quietway\downloads\ in the machine's application data folder on Windows). Never the shared
// temporary directory, where another user could plant or rewrite an installer. Empty when it
// cannot be made safe.
std::string download_dir();

// Downloads `url` into the download directory under the URL's last path segment. `path` is
// set before the transfer starts; on failure the file is deleted and false returned.
bool download_to_temp(const std::string& url, std::string& path);

// Reads `url` (agent "UN/1.0") into `buffer` and puts a NUL behind it; `buffer` holds
// `size` + 1 bytes. Returns the byte count, 0 on failure (logged with its "ERROR ..." line)
// or when the body is longer than `size` (then nothing is kept).
size_t fetch_text(const std::string& url, char* buffer, size_t size);

}  // namespace quietway
