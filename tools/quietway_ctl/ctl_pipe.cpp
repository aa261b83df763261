#include "tools/quietway_ctl/ctl_pipe.h"

#include "common/pipe/pipe_client.h"

namespace quietway::ctl {

bool pipe_command(int command, int& status) {
    PipeClient client;
    return client.send_command(command, status);
}

const char* pipe_status_words(int status) {
    switch (status) {
        case kPrivacyStopped:
        case kReplyStoppedOther:
            return "stopped";
        case kPrivacyConnecting:
            return "connecting";
        case kPrivacyConnected:
            return "connected";
        case kReplyNoServer:
            return "stopped, no server selected";
        case kReplySameUser:
            return "connected, same user detected";
        default:
            return "unknown";
    }
}

}  // namespace quietway::ctl
