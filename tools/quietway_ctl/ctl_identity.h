#pragma once

namespace quietway::ctl {

// Whether this process runs as root (Windows: an elevated administrator or the local system
// account), which may read the control API's account from the settings store.
bool is_administrator();

}  // namespace quietway::ctl
