// Crashes on purpose after installing the crash handler: crash_victim PRODUCT HOW
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "common/crash/crash_reporter.h"
#include "tests/common/crash/crash_victim.h"

namespace {

// The pointer itself is volatile: a compiler that knows it is null may drop the write as
// undefined behaviour (GCC does at -O1), and the program would not crash.
void write_through_null(int value) {
    volatile int* volatile nowhere = nullptr;
    *nowhere = value;
}

// Each frame keeps a buffer alive, so no compiler can turn this into a loop.
int recurse(int depth) {
    if (depth < 0) return 0;
    volatile char frame[1024];
    frame[0] = static_cast<char>(depth);
    return recurse(depth + 1) + frame[0];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    if (!quietway::install_crash_handler(argv[1])) return 3;
    const std::string how = argv[2];
    if (how == "null-write") write_through_null(1);
    if (how == "abort") std::abort();
    if (how == "thread-null-write") std::thread([] { write_through_null(2); }).join();
    if (how == "stack-overflow") return recurse(0);
    if (how == "invalid-parameter") return fail_runtime_check();
    return 4;
}
