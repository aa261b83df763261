#pragma once

#include <cstddef>
#include <cstdint>

// The two launchers that several programs share. Both keep no state between calls.
namespace quietway {

// The whole command line given to the interpreter (interpreter, " /c " or " -c ", the command
// and the terminating zero) must fit here; a longer command is refused.
inline constexpr size_t kShellCommandCapacity = 4096;

// Starts `program` (a full path, given no arguments) as the user at the console, on that
// user's desktop and with that user's environment, without waiting for it. Returns true when
// the process was created; false with nobody logged on, and then nothing is started.
bool run_in_user_session(const char* program);

// Runs `command` through the command interpreter, invisibly, and waits for its end however
// long that takes. Returns the command's exit code, 0 when it cannot be read, or the system
// error code when the interpreter could not be started (or the command was refused).
uint32_t run_shell_command(const char* command);

}  // namespace quietway
