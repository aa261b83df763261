#include <termios.h>
#include <unistd.h>

#include <cstdio>

#include "tools/quietway_ctl/ctl_terminal.h"

namespace quietway::ctl {

bool input_is_terminal() { return ::isatty(STDIN_FILENO) == 1; }

bool read_hidden_line(const std::string& prompt, std::string& line) {
    std::fputs(prompt.c_str(), stderr);
    std::fflush(stderr);
    termios saved{};
    if (::tcgetattr(STDIN_FILENO, &saved) != 0) return false;
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    quiet.c_lflag |= ECHONL;
    if (::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) != 0) return false;
    const bool read = read_bounded_line(line);
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    return read;
}

}  // namespace quietway::ctl
