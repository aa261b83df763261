#include "common/service_host/service_arguments.h"

namespace quietway {
namespace {

bool action_for(char letter, ServiceAction& action) {
    switch (letter) {
        case 'i':
            action = ServiceAction::install;
            return true;
        case 'u':
            action = ServiceAction::remove;
            return true;
        case 's':
            action = ServiceAction::start;
            return true;
        case 'e':
            action = ServiceAction::stop;
            return true;
        case 'f':
            action = ServiceAction::foreground;
            return true;
        default:
            return false;
    }
}

// The value of "-l"/"-p": the rest of the argument, else the next argument (consumed).
std::string option_value(int argc, char** argv, int& index) {
    const char* rest = argv[index] + 2;
    if (*rest != '\0') return rest;
    if (index + 1 < argc && argv[index + 1] != nullptr) return argv[++index];
    return {};
}

}  // namespace

CommandLine parse_command_line(int argc, char** argv) {
    CommandLine result;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (arg == nullptr || arg[0] != '-' || arg[1] == '\0') continue;
        const char letter = arg[1];
        if (action_for(letter, result.action)) continue;
        if (letter == 'l') {
            result.account = option_value(argc, argv, i);
            if (result.account.size() > kMaxAccountText) {
                result.error = "account name is longer than 255 characters";
            }
        } else if (letter == 'p') {
            result.password = option_value(argc, argv, i);
            if (result.password.size() > kMaxAccountText) {
                result.error = "password is longer than 255 characters";
            }
        }
    }
    return result;
}

}  // namespace quietway
