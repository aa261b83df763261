// Stands in for the VPN client in the engine tests. Each run appends its arguments as one
// line to the file named by QUIETWAY_STANDIN_LOG, then plays a script: the first run
// QUIETWAY_STANDIN_FIRST, later runs QUIETWAY_STANDIN_LATER (or the first again). Steps are
// separated by '|': "out:TEXT" writes TEXT at once, "sleep:MS" pauses, "hang" waits to be
// ended, "exit:N" ends with code N.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace {

int runs_so_far(const char* log_path) {
    FILE* file = std::fopen(log_path, "rb");
    if (file == nullptr) return 0;
    int lines = 0;
    for (int c; (c = std::fgetc(file)) != EOF;) lines += c == '\n';
    std::fclose(file);
    return lines;
}

void record_run(const char* log_path, int argc, char** argv) {
    FILE* file = std::fopen(log_path, "ab");
    if (file == nullptr) return;
    for (int i = 1; i < argc; ++i) std::fprintf(file, "%s%s", i > 1 ? " " : "", argv[i]);
    std::fputc('\n', file);
    std::fclose(file);
}

int play(const std::string& script) {
    size_t start = 0;
    while (start <= script.size()) {
        size_t end = script.find('|', start);
        if (end == std::string::npos) end = script.size();
        const std::string step = script.substr(start, end - start);
        start = end + 1;
        if (step.rfind("out:", 0) == 0) {
            std::fputs(step.c_str() + 4, stdout);
            std::fflush(stdout);
        } else if (step.rfind("sleep:", 0) == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(std::atol(step.c_str() + 6)));
        } else if (step == "hang") {
            for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
        } else if (step.rfind("exit:", 0) == 0) {
            return std::atoi(step.c_str() + 5);
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const char* log_path = std::getenv("QUIETWAY_STANDIN_LOG");
    if (log_path == nullptr) return 2;
    const bool first = runs_so_far(log_path) == 0;
    record_run(log_path, argc, argv);
    const char* later = std::getenv("QUIETWAY_STANDIN_LATER");
    const char* script = !first && later != nullptr ? later : std::getenv("QUIETWAY_STANDIN_FIRST");
    return play(script != nullptr ? script : "");
}
