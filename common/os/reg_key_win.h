#pragma once

#include <windows.h>

#include "common/os/handle_owner_win.h"

namespace quietway {

// An open registry key, closed on every path out of the operation that opened it.
class RegKey : public HandleOwner<HKEY, &RegCloseKey> {
public:
    // RegOpenKeyExA below HKEY_LOCAL_MACHINE.
    bool open(const char* path, REGSAM access) {
        return RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, access, receive()) == ERROR_SUCCESS;
    }
};

}  // namespace quietway
