#pragma once

namespace quietway::ctl {

// The pipe's commands (the engine answers each with its status).
inline constexpr int kPipeStart = 1;
inline constexpr int kPipeStop = 2;
inline constexpr int kPipeStatus = 3;
inline constexpr int kPipeFirstServer = 1000;  // + the server's number, 1 to 99

// The pipe's status answers.
inline constexpr int kPipeStopped = 1;
inline constexpr int kPipeConnecting = 2;
inline constexpr int kPipeConnected = 3;

// Whether a status answer means stopped (4: stopped, 5: stopped with no server selected).
inline bool pipe_stopped(int status) {
    return status == kPipeStopped || status == 4 || status == 5;
}

// Sends one command over the engine's pipe; true with the status it answered.
bool pipe_command(int command, int& status);

// A pipe status in words.
const char* pipe_status_words(int status);

}  // namespace quietway::ctl
