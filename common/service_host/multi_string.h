#pragma once

#include <cstddef>
#include <string>
#include <vector>

// The registry's multi-string format: each string ends with a NUL and one more NUL ends the
// list. Used for the event log's "Sources" list.
namespace quietway {

// Reads at most `size` bytes; a missing final terminator ends the list at the data's end.
std::vector<std::string> parse_multi_string(const char* data, size_t size);

// The strings, each with its NUL, and the list's closing NUL.
std::string build_multi_string(const std::vector<std::string>& strings);

// Registry names compare without regard to ASCII case.
bool contains_name(const std::vector<std::string>& strings, const std::string& name);

// Removes every string equal to `name`; returns whether there was one.
bool remove_name(std::vector<std::string>& strings, const std::string& name);

}  // namespace quietway
