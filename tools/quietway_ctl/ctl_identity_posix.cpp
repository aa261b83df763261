#include <unistd.h>

#include "tools/quietway_ctl/ctl_identity.h"

namespace quietway::ctl {

bool is_administrator() { return ::geteuid() == 0; }

}  // namespace quietway::ctl
