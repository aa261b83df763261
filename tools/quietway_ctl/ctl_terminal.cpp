#include "tools/quietway_ctl/ctl_terminal.h"

#include <cstdio>

namespace quietway::ctl {

bool read_bounded_line(std::string& line) {
    line.clear();
    for (;;) {
        const int c = std::getchar();
        if (c == EOF) return !line.empty() && std::ferror(stdin) == 0;
        if (c == '\n') break;
        if (line.size() > kLongestSecret) return false;
        line.push_back(static_cast<char>(c));
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line.size() <= kLongestSecret;
}

}  // namespace quietway::ctl
