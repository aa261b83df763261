#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// What every fuzz target shares: a private store, log folder and pipe path under a temporary
// directory made once per process and removed at exit, and a check that stops the run.
namespace quietway::fuzz {

// Creates the directory, points QUIETWAY_REGISTRY, QUIETWAY_LOG_DIR and QUIETWAY_PIPE into
// it and installs the program's section keys. Idempotent; returns the directory.
const std::string& environment();

// Ends the run with a message when a property the code promises does not hold, so that
// libFuzzer records the input as a crash.
void require(bool holds, const char* what);

}  // namespace quietway::fuzz
