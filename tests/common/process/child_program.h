#pragma once

#include <filesystem>
#include <string>

namespace quietway::testing {

// Full native path of the test child program (process_child).
std::string child_program();

// A copy of the child program under `stem` plus the program's own extension, in `dir`, so that
// tests can find and end it by a name no other process uses. Returns its full path.
std::string copy_child_program(const std::filesystem::path& dir, const std::string& stem);

// A name nobody else runs: `prefix` and random hex digits.
std::string unique_name(const std::string& prefix);

}  // namespace quietway::testing
