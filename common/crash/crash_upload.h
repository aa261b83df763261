#pragma once

#include "common/crash/collector_address.h"

namespace quietway {

// Sends the dump at `dump_path` to `collector` as one multipart POST to "/post" with the
// product and version fields and the dump as the file part; every step has a time limit.
// Returns true when the collector took the whole request.
bool send_crash_dump(const CollectorAddress& collector, const char* product, const char* version,
                     const char* dump_path);

}  // namespace quietway
