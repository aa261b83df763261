#pragma once

#include "common/service_host/quietway_service.h"
#include "common/service_host/service_names.h"

namespace quietway {

// The program entry both service programs share: sets up the program's log, builds the host
// with the program's names (installed for automatic start) and returns the command line's
// result as the process exit code: 1 for success, 0 for failure.
int run_service_program(const ServiceNames& names, ApplicationFactory factory, int argc,
                        char** argv);

}  // namespace quietway
