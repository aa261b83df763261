// quietway_service: the engine. Runs the tunnels and serves the control API and the pipe.
#include <memory>

#include "common/log/rotating_log.h"
#include "common/service_host/service_names.h"
#include "common/service_host/service_program.h"
#include "service/app/quietway_application.h"

namespace {

std::unique_ptr<quietway::Application> make_application(quietway::QuietwayService& host) {
    return std::make_unique<quietway::QuietwayApplication>(&host);
}

}  // namespace

int main(int argc, char** argv) {
    return quietway::run_service_program(quietway::kEngineServiceNames, make_application, argc,
                                         argv);
}
