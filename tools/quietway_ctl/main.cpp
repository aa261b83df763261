// quietway_ctl: the engine's control channel from the command line.

#include <cstdio>
#include <string>
#include <vector>

#include "common/pipe/pipe_client.h"
#include "tools/quietway_ctl/ctl_command.h"

int main(int argc, char** argv) {
    const std::vector<std::string> words(argv + 1, argv + argc);
    const auto command = quietway::ctl::parse_command(words);
    if (!command) {
        std::fprintf(stderr, "usage: quietway_ctl status | start | stop | server N (1-99)\n");
        return quietway::ctl::kExitUsage;
    }
    quietway::PipeClient client;
    int status = 0;
    if (!client.send_command(*command, status)) {
        std::fprintf(stderr, "quietway_ctl: the Quietway engine cannot be reached\n");
        return quietway::ctl::kExitUnreachable;
    }
    std::printf("%s\n", quietway::ctl::status_words(status).c_str());
    return 0;
}
