#include "tools/quietway_ctl/ctl_pipe.h"

#include "service/pipe/pipe_client.h"

namespace quietway::ctl {

bool pipe_command(int command, int& status) {
    PipeClient client;
    return client.send_command(command, status);
}

const char* pipe_status_words(int status) {
    switch (status) {
        case 1:
        case 4:
            return "stopped";
        case 2:
            return "connecting";
        case 3:
            return "connected";
        case 5:
            return "stopped, no server selected";
        case 6:
            return "connected, same user detected";
        default:
            return "unknown";
    }
}

}  // namespace quietway::ctl
