#include "common/service_host/application.h"

#include "common/service_host/quietway_service.h"

namespace quietway {

Application::~Application() {
    if (host_ != nullptr) host_->signal_stop_event();
}

}  // namespace quietway
