#pragma once

#include "common/log/rotating_log.h"

namespace quietway {

// What tells the two service programs apart besides their application objects.
struct ServiceNames {
    const char* service_name;  // also the event source and the service manager's key
    const char* display_name;
    const char* running_line;
    const char* terminated_line;
    const char* log_file_name;
};

inline constexpr ServiceNames kEngineServiceNames{"Quietway2", "Quietway2 Service",
                                                  "Quietway2 Service running",
                                                  "Quietway2 Service terminated", kServiceLogFile};

inline constexpr ServiceNames kUpdaterServiceNames{
    "QuietwayUpdater", "Quietway Update Service", "Quietway Update Service running",
    "Quietway Update Service terminated", kUpdaterLogFile};

}  // namespace quietway
