#pragma once

#include "common/process/run_program.h"
#include "common/process/spawn_posix.h"

namespace quietway::posix {

// Runs what `request` names (path, arguments and, where set, the user, environment and working
// directory) the way run_program runs a program: input, captured output and time limit come
// from `options`; the standard streams and the process group are set here.
RunResult run_spawn_request(SpawnRequest request, const RunOptions& options);

}  // namespace quietway::posix
