#pragma once

#include <string>

// The conf directory holds the account's password and keys, and a program running as root or
// SYSTEM writes and empties it: no other user may enter it, and nothing in it may lead
// elsewhere.
namespace quietway {

// Makes `dir` private, creating it when missing: a directory that is not a link, owned by this
// process's account (or, on Windows, SYSTEM or the administrators) and open to nobody else
// (Windows: SYSTEM and the administrators; Linux: mode 0700). False, with a log line, when it is
// a link or cannot be made private.
bool secure_data_directory(const std::string& dir);

// Whether `path` is a link of any kind: a symbolic link, a junction or another reparse point.
bool is_link(const std::string& path);

}  // namespace quietway
