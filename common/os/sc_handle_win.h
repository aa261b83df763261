#pragma once

#include <windows.h>

#include "common/os/handle_owner_win.h"

namespace quietway {

// A service control manager or service handle.
using ScHandle = HandleOwner<SC_HANDLE, &CloseServiceHandle>;

}  // namespace quietway
