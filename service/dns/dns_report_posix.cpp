#include "service/dns/dns_report_posix.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

#include "common/log/rotating_log.h"

namespace quietway::dns {
namespace {

void to_program_log(const std::string& line) { log("%s", line.c_str()); }

std::atomic<ReportSink> g_sink{to_program_log};

}  // namespace

void set_report_sink(ReportSink sink) { g_sink.store(sink != nullptr ? sink : to_program_log); }

void report(const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    g_sink.load()(text);
}

}  // namespace quietway::dns
