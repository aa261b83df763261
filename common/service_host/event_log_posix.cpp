#include <syslog.h>

#include <cstdlib>

#include "common/service_host/cnt_service.h"
#include "common/service_host/error_text.h"

// The event log is syslog under the service name.
namespace quietway {

// syslog needs no registration of its sources.
void CNTService::add_event_source(const char*, uint32_t) {}
void CNTService::remove_event_source() {}

void CNTService::log_event(const char* message, uint16_t type, int32_t) {
    last_error_.store(last_system_error());
    const int priority = type == kEventError     ? LOG_ERR
                         : type == kEventWarning ? LOG_WARNING
                                                 : LOG_INFO;
    int options = LOG_PID;
    // A person at a console sees the event too; under systemd stderr already is the journal.
    if (std::getenv("JOURNAL_STREAM") == nullptr) options |= LOG_PERROR;
    openlog(service_name_, options, LOG_DAEMON);
    syslog(priority, "%s", message);
    closelog();
}

}  // namespace quietway
