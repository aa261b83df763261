#include "tools/quietway_ctl/ctl_command.h"

#include "common/pipe/pipe_vocabulary.h"
#include "common/privacy/privacy_status.h"

namespace quietway::ctl {
namespace {

// A server number: plain decimal digits, 1 to 99.
std::optional<int> server_number(const std::string& text) {
    if (text.empty() || text.size() > 2) return std::nullopt;
    int number = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        number = number * 10 + (c - '0');
    }
    if (number < 1 || number > kPipeLastServer) return std::nullopt;
    return number;
}

}  // namespace

std::optional<int> parse_command(const std::vector<std::string>& words) {
    if (words.size() == 1) {
        if (words[0] == "status") return kPipeStatus;
        if (words[0] == "start") return kPipeStart;
        if (words[0] == "stop") return kPipeStop;
    }
    if (words.size() == 2 && words[0] == "server") {
        if (const auto number = server_number(words[1])) return kPipeServerBase + *number;
    }
    return std::nullopt;
}

std::string status_words(int status) {
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
            return "unknown (" + std::to_string(status) + ")";
    }
}

}  // namespace quietway::ctl
