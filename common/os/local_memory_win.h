#pragma once

#include <windows.h>

#include "common/os/handle_owner_win.h"

namespace quietway {

// Memory that a Windows call hands out for LocalFree to release (security descriptors).
using LocalMemory = HandleOwner<HLOCAL, &LocalFree>;

}  // namespace quietway
