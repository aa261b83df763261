#include <cstdio>

#include "tests/common/crash/crash_victim.h"

// glibc does not check the stream: it faults.
int fail_runtime_check() {
    FILE* volatile no_file = nullptr;
    return std::fclose(no_file);
}
