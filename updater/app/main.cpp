// quietway_updater: keeps the client current and alive beside the engine.
#include <memory>

#include "common/crash/crash_reporter.h"
#include "common/service_host/service_names.h"
#include "common/service_host/service_program.h"
#include "updater/app/quietway_updater_app.h"

namespace {

std::unique_ptr<quietway::Application> make_application(quietway::QuietwayService& host) {
    quietway::install_crash_handler(quietway::kUpdaterCrashProduct);
    return std::make_unique<quietway::QuietwayUpdaterApp>(&host);
}

}  // namespace

int main(int argc, char** argv) {
    return quietway::run_service_program(quietway::kUpdaterServiceNames, make_application, argc,
                                         argv);
}
