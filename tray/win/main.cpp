#include <windows.h>

#include "common/log/rotating_log.h"
#include "common/os/win_handle.h"
#include "tray/win/tray_application.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    quietway::program_log().set_file_name(quietway::kTrayLogFile);
    // One tray per machine session: a second start ends at once.
    quietway::WinHandle mutex(CreateMutexA(nullptr, FALSE, quietway::kTrayMutexName));
    if (GetLastError() == ERROR_ALREADY_EXISTS) return -1;
    quietway::TrayApplication application(instance);
    return application.run();
}
