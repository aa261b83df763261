// A small stand-in for outside programs in the process tests. The first argument picks what
// it does; it writes no line ends of its own so output compares the same on both targets.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <thread>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace {

void binary_stdio() {
#ifdef _WIN32
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
#endif
}

// Each argument as "<length>:<bytes>;" so that blanks and quotes stay visible.
int echo_args(int argc, char** argv) {
    for (int i = 2; i < argc; ++i) std::printf("%zu:%s;", std::strlen(argv[i]), argv[i]);
    return 0;
}

int copy_stdin() {
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof(buffer), stdin)) > 0) {
        std::fwrite(buffer, 1, n, stdout);
    }
    return 0;
}

int spew(long bytes) {
    const std::string block(1000, 'x');
    for (long left = bytes; left > 0; left -= 1000) {
        std::fwrite(block.data(), 1, left < 1000 ? static_cast<size_t>(left) : 1000, stdout);
    }
    std::fputs("[out]", stdout);
    std::fflush(stdout);
    std::fputs("[err]", stderr);
    return 0;
}

// Writes "started" to `path`. With no arguments (how the user-session launcher starts
// programs) the path comes from the environment. The mark is written beside it and renamed
// into place, so a test never finds it while this program still holds it open (Windows then
// refuses to delete it).
int leave_mark(const char* path) {
    if (path == nullptr) return 2;
    const std::string partial = std::string(path) + ".partial";
    FILE* file = std::fopen(partial.c_str(), "wb");
    if (file == nullptr) return 3;
    std::fputs("started", file);
    std::fclose(file);
    std::error_code error;
    std::filesystem::rename(partial, path, error);
    return error ? 3 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    binary_stdio();
    if (argc < 2) return leave_mark(std::getenv("QUIETWAY_TEST_MARKER"));
    const std::string mode = argv[1];
    const long value = argc > 2 ? std::strtol(argv[2], nullptr, 10) : 0;
    if (mode == "args") return echo_args(argc, argv);
    if (mode == "cat") return copy_stdin();
    if (mode == "exit") return static_cast<int>(value);
    if (mode == "spew") return spew(value);
    if (mode == "sleep") {
        std::this_thread::sleep_for(std::chrono::milliseconds(value));
        return 0;
    }
    if (mode == "mark-wait") {
        // "mark-wait MARK GO" tells the test it runs, waits until the test makes GO, and then
        // leaves MARK.ended: what it does only if nothing ended it first.
        if (argc < 4 || leave_mark(argv[2]) != 0) return 4;
        while (!std::filesystem::exists(argv[3]))
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return leave_mark((std::string(argv[2]) + ".ended").c_str());
    }
    return 99;
}
