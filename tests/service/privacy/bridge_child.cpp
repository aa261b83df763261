// Stands in for a tunnel program in the child-runner tests. Runs its arguments as a script:
// "out:TEXT" and "err:TEXT" write TEXT to standard output or error at once, "sleep:MS" pauses,
// "exit:N" ends with code N, "hang" waits to be terminated and "deaf" ignores SIGTERM from then
// on (Linux). The script ends with code 0.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#ifndef _WIN32
#include <csignal>
#endif

namespace {

void write_now(FILE* stream, const char* text) {
    std::fputs(text, stream);
    std::fflush(stream);
}

void pause_ms(long ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const char* step = argv[i];
        if (std::strncmp(step, "out:", 4) == 0) {
            write_now(stdout, step + 4);
        } else if (std::strncmp(step, "err:", 4) == 0) {
            write_now(stderr, step + 4);
        } else if (std::strncmp(step, "sleep:", 6) == 0) {
            pause_ms(std::strtol(step + 6, nullptr, 10));
        } else if (std::strncmp(step, "exit:", 5) == 0) {
            return static_cast<int>(std::strtol(step + 5, nullptr, 10));
#ifndef _WIN32
        } else if (std::strcmp(step, "deaf") == 0) {
            std::signal(SIGTERM, SIG_IGN);
#endif
        } else if (std::strcmp(step, "hang") == 0) {
            pause_ms(120000);
        } else {
            return 2;
        }
    }
    return 0;
}
