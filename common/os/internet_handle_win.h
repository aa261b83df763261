#pragma once

#include <windows.h>
#include <wininet.h>

#include "common/os/handle_owner_win.h"

namespace quietway {

// A WinINet session, connection or request handle.
using InternetHandle = HandleOwner<HINTERNET, &InternetCloseHandle>;

}  // namespace quietway
