#pragma once

#include <string>

// The sandboxing lines of each service's systemd unit, chosen from what the service does.
namespace quietway {

// The [Service] lines for the service named; empty for a name without a sandbox of its own.
std::string unit_sandbox(const std::string& service_name);

}  // namespace quietway
