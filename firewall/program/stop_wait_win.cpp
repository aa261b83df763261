#include <conio.h>
#include <windows.h>

#include "firewall/program/stop_wait.h"

namespace quietway {

void wait_for_key_or_stop() {
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (input != nullptr && input != INVALID_HANDLE_VALUE && GetConsoleMode(input, &mode)) {
        _getch();
        return;
    }
    // Started hidden, without console input: the filters are held until the process is
    // killed.
    for (;;) Sleep(INFINITE);
}

}  // namespace quietway
