#pragma once

#include <cstddef>
#include <string>

// Whole-file reads and writes on an open descriptor, for the resolver file and the records.
namespace quietway::dns {

// Writes every byte and flushes it to the disk.
bool write_synced(int fd, const std::string& bytes);

// Reads to the end; false when reading fails or there is more than `limit` bytes.
bool read_bounded(int fd, size_t limit, std::string& out);

}  // namespace quietway::dns
