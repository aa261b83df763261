#include "common/service_host/quietway_service.h"

#include <system_error>

#include "common/log/rotating_log.h"

namespace quietway {

QuietwayService::QuietwayService(const ServiceNames& names, ApplicationFactory factory)
    : CNTService(names.service_name, names.display_name), names_(names), factory_(factory) {}

QuietwayService::~QuietwayService() {
    if (application_thread_.joinable()) application_thread_.join();
}

void QuietwayService::service_run(int, char**) {
    set_status(kServiceStartPending, kStartWaitHintMs);
    set_status(kServiceRunning, kStartWaitHintMs);
    uint32_t error = 0;
    if (create_application_thread(error)) {
        stop_event_.wait();
        // The thread's last act was the destruction that signalled the event.
        application_thread_.join();
    } else {
        // No application exists that could signal the stop event: end the service now
        // rather than wait for ever.
        log("service failed to create Application thread error = %X ", error);
        report_run_failure();
    }
    log("%s", names_.terminated_line);
}

void QuietwayService::service_stop() {
    set_status(kServiceStopPending, kStopWaitHintMs);
    std::lock_guard<std::mutex> lock(application_lock_);
    stop_received_ = true;
    if (application_ != nullptr) application_->request_stop();
}

bool QuietwayService::create_application_thread(uint32_t& error) {
    try {
        application_thread_ = std::thread([this] { drive_application(); });
        return true;
    } catch (const std::system_error& e) {
        error = static_cast<uint32_t>(e.code().value());
        return false;
    }
}

void QuietwayService::drive_application() {
    std::unique_ptr<Application> application = factory_ != nullptr ? factory_(*this) : nullptr;
    if (!application) {
        log("service failed to create the application object");
        report_run_failure();
        signal_stop_event();
        return;
    }
    adopt_application(application.get());
    if (application->init()) {
        log("%s", names_.running_line);
        application->run();
    } else {
        report_run_failure();
    }
    application->cleanup();
    forget_application();
    application.reset();  // signals the stop event
}

void QuietwayService::adopt_application(Application* application) {
    std::lock_guard<std::mutex> lock(application_lock_);
    application_ = application;
    if (stop_received_) application->request_stop();
}

void QuietwayService::forget_application() {
    std::lock_guard<std::mutex> lock(application_lock_);
    application_ = nullptr;
}

}  // namespace quietway
