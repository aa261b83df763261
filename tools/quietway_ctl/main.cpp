// quietway_ctl: the engine's control API and pipe from the command line.

#include <cstdio>
#include <string>
#include <vector>

#include "tools/quietway_ctl/ctl_args.h"
#include "tools/quietway_ctl/ctl_run.h"

int main(int argc, char** argv) {
    const std::vector<std::string> words(argv + 1, argv + argc);
    const quietway::ctl::Parsed parsed = quietway::ctl::parse_arguments(words);
    if (!parsed.command) {
        std::fprintf(stderr, "quietway_ctl: %s\n%s", parsed.error.c_str(),
                     quietway::ctl::usage_text().c_str());
        return quietway::ctl::kExitUsage;
    }
    return quietway::ctl::run(*parsed.command);
}
