#pragma once

namespace quietway {

// Where the control channel lives: the fixed pipe name on Windows; $QUIETWAY_PIPE or the
// default socket path elsewhere.
const char* pipe_path();

}  // namespace quietway
