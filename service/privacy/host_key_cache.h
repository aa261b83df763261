#pragma once

#include <string>
#include <vector>

#include "common/process/run_program.h"

namespace quietway {

// Runs plink with its host-key question answered, so that it stores the key in its cache.
// Runs for different hosts may go at the same time without losing each other's entries;
// `scratch_dir` is private to the caller (the server's directory). True when plink ran to
// its end.
bool run_storing_plink(const std::vector<std::string>& args, const RunOptions& options,
                       const std::string& scratch_dir);

}  // namespace quietway
