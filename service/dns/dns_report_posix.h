#pragma once

#include <string>

// Where the resolver code says what it did and what failed: the program's log in the engine,
// standard error in quietway_dns (OpenVPN passes that on into the engine's log).
namespace quietway::dns {

using ReportSink = void (*)(const std::string& line);

// Set once at program start, before any thread runs.
void set_report_sink(ReportSink sink);

void report(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace quietway::dns
