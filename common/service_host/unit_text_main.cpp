// Prints a service's systemd unit, the same text its "-i" writes; the Debian package ships
// the units this tool writes.
//
// usage: quietway_unit_text SERVICE_NAME PROGRAM_PATH
#include <cstdio>
#include <string>

#include "common/service_host/service_names.h"
#include "common/service_host/systemd_sandbox.h"
#include "common/service_host/systemd_unit.h"

namespace {

const quietway::ServiceNames* find_service(const std::string& name) {
    for (const quietway::ServiceNames* names :
         {&quietway::kEngineServiceNames, &quietway::kUpdaterServiceNames}) {
        if (name == names->service_name) return names;
    }
    return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    const quietway::ServiceNames* names = argc == 3 ? find_service(argv[1]) : nullptr;
    if (names == nullptr) {
        std::fprintf(stderr, "usage: quietway_unit_text Quietway2|QuietwayUpdater PROGRAM_PATH\n");
        return 2;
    }
    std::string text;
    if (!quietway::build_unit_text(
            {names->display_name, argv[2], "", quietway::unit_sandbox(names->service_name)},
            text)) {
        std::fprintf(stderr, "quietway_unit_text: %s cannot be written into a unit\n", argv[2]);
        return 1;
    }
    return std::fputs(text.c_str(), stdout) >= 0 && std::fflush(stdout) == 0 ? 0 : 1;
}
