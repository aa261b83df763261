#pragma once

#include <memory>
#include <mutex>
#include <thread>

#include "common/service_host/application.h"
#include "common/service_host/cnt_service.h"
#include "common/service_host/manual_reset_event.h"
#include "common/service_host/service_names.h"

namespace quietway {

class QuietwayService;

// Creates the program's application object for the host; called on the application thread.
using ApplicationFactory = std::unique_ptr<Application> (*)(QuietwayService& host);

// The host as both service programs use it: it runs the program's application object on a
// thread of its own and ends the service once that object has been destroyed.
class QuietwayService : public CNTService {
public:
    QuietwayService(const ServiceNames& names, ApplicationFactory factory);
    ~QuietwayService() override;

    void service_run(int argc, char** argv) override;
    void service_stop() override;

    // Called by the application's destruction.
    void signal_stop_event() { stop_event_.set(); }
    bool stop_event_signalled() const { return stop_event_.is_set(); }

    const ServiceNames& names() const { return names_; }

protected:
    // Starts drive_application() on a new thread; on failure returns false with the system's
    // error code.
    virtual bool create_application_thread(uint32_t& error);
    void drive_application();

private:
    void adopt_application(Application* application);
    void forget_application();

    ServiceNames names_;
    ApplicationFactory factory_;
    ManualResetEvent stop_event_;
    std::thread application_thread_;
    // Guards the application pointer against its destruction while the control handler sets
    // its stop flag, and remembers a stop that came before the application existed.
    std::mutex application_lock_;
    Application* application_ = nullptr;
    bool stop_received_ = false;
};

}  // namespace quietway
