#pragma once

#include <windows.h>

#include "common/os/reg_key_win.h"

namespace quietway {

// Opens the key below HKEY_LOCAL_MACHINE with `access`, creating it and its missing parents
// one level at a time: each created key gets a null DACL (full access for every account) at
// or below the notifications key, and otherwise a protected DACL that lets only SYSTEM and the
// administrators change it and other users read it. Fails for a path the store cannot hold.
bool create_store_key(const char* path, REGSAM access, RegKey& key);

// The protected descriptor's DACL in its text form, as the registry reports it back.
inline constexpr const char* kProtectedKeyDacl = "D:P(A;CI;KA;;;SY)(A;CI;KA;;;BA)(A;CI;KR;;;BU)";

}  // namespace quietway
