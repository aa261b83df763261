#pragma once

#include <string>

namespace quietway {

enum class ServiceAction { dispatcher, install, remove, start, stop, foreground };

// Longest account name or password accepted from the command line.
inline constexpr size_t kMaxAccountText = 255;

struct CommandLine {
    ServiceAction action = ServiceAction::dispatcher;
    std::string account;          // empty: the local system account
    std::string password;         // empty: none
    const char* error = nullptr;  // set when an argument was refused; nothing may be done then
};

// Scans the arguments after the program name. An argument beginning with "-" names an option
// by its second character; everything else and unknown letters are ignored; the last action
// option wins. "-l" and "-p" take the rest of their argument or, when that is empty, the next.
CommandLine parse_command_line(int argc, char** argv);

}  // namespace quietway
