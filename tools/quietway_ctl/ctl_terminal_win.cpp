#include <windows.h>

#include <cstdio>

#include "tools/quietway_ctl/ctl_terminal.h"

namespace quietway::ctl {

bool input_is_terminal() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

bool read_hidden_line(const std::string& prompt, std::string& line) {
    std::fputs(prompt.c_str(), stderr);
    std::fflush(stderr);
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD saved = 0;
    if (!GetConsoleMode(input, &saved)) return false;
    if (!SetConsoleMode(input, saved & ~static_cast<DWORD>(ENABLE_ECHO_INPUT))) return false;
    const bool read = read_bounded_line(line);
    SetConsoleMode(input, saved);
    std::fputs("\n", stderr);
    return read;
}

}  // namespace quietway::ctl
