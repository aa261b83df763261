#include <stdlib.h>

#include "tests/common/crash/crash_victim.h"

// What the C runtime does when a function's parameter check fails. (Called directly: the
// runtime under test here returns an error code instead of reporting such a call.)
int fail_runtime_check() {
    const _invalid_parameter_handler handler = _get_invalid_parameter_handler();
    if (handler == nullptr) return 5;
    handler(L"stream != NULL", L"fclose", L"victim", 1, 0);
    return 6;
}
