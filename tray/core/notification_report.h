#pragma once

#include <cstdint>
#include <string>

// Telling the vendor's server what became of a notification.
namespace quietway {

// The `notification_set_st_url` setting (section "app") or the vendor's default address,
// then "?account=" and the percent-encoded `user` (section "general") when it can be read,
// then "&id=" `id` "&state=" `state`. "" when the setting is missing and the build names no
// vendor: then nothing is reported.
std::string notification_report_url(const std::string& id, int32_t state);

// One GET of that address; its answer (at most 2047 bytes) is dropped. Failures are logged.
void report_notification_state(const std::string& id, int32_t state);

}  // namespace quietway
