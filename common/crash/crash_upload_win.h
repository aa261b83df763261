#pragma once

#include "common/crash/crash_setup.h"

namespace quietway {

// Sends the dump at `dump_path` to the collector of `setup` as one multipart POST with the
// product and version fields and the file part named `file_name`. Returns true when the
// collector received the whole request; the result is only for the caller's own curiosity.
bool upload_crash_dump(const CrashSetup& setup, const char* dump_path, const char* file_name,
                       const char* boundary_seed);

}  // namespace quietway
