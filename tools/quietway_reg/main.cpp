#include <iostream>
#include <string>
#include <vector>

#include "tools/quietway_reg/commands.h"

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    const int status = quietway::reg_tool::run(args, std::cout, std::cerr);
    std::cout.flush();
    return status;
}
