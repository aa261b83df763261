#include <windows.h>

#include "tests/service/privacy/pipe_bridge_test_probe.h"

namespace quietway::test {

// Handle counts under Wine move with the runtime's own activity; they are not compared.
int open_descriptors() { return -1; }

bool child_left_behind(unsigned long process_id) {
    HANDLE process =
        OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(process_id));
    if (process == nullptr) return false;
    DWORD code = 0;
    const bool running = GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
    CloseHandle(process);
    return running;
}

}  // namespace quietway::test
