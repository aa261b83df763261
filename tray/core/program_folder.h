#pragma once

#include <string>

namespace quietway {

// The path of `name` in the folder of the running program, whatever the working directory
// (the autostarted tray starts in the system folder). Just `name` when the program's own path
// cannot be read.
std::string beside_program(const char* name);

}  // namespace quietway
