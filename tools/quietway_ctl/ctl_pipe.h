#pragma once

#include "common/pipe/pipe_vocabulary.h"
#include "common/privacy/privacy_status.h"

namespace quietway::ctl {

// Whether a status answer means stopped.
inline bool pipe_stopped(int status) {
    return status == kPrivacyStopped || status == kReplyStoppedOther || status == kReplyNoServer;
}

// Sends one command over the engine's pipe; true with the status it answered.
bool pipe_command(int command, int& status);

// A pipe status in words.
const char* pipe_status_words(int status);

}  // namespace quietway::ctl
