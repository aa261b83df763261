#include <windows.h>

#include "tools/quietway_ctl/ctl_identity.h"

namespace quietway::ctl {

bool is_administrator() {
    // A limited token of an administrator does not count, as for the engine's own check.
    SID_IDENTIFIER_AUTHORITY authority = SECURITY_NT_AUTHORITY;
    PSID administrators = nullptr;
    if (!AllocateAndInitializeSid(&authority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                  DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &administrators)) {
        return false;
    }
    BOOL member = FALSE;
    const bool checked = CheckTokenMembership(nullptr, administrators, &member) != 0;
    FreeSid(administrators);
    return checked && member != FALSE;
}

}  // namespace quietway::ctl
