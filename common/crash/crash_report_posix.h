#pragma once

#include <signal.h>

#include "common/crash/crash_setup.h"

// The Linux crash report, written from a signal handler: every function here is
// async-signal-safe (system calls and fixed buffers only, no allocation, no locks).
namespace quietway::crash_report {

// Length of a dump id: 8-4-4-4-12 hexadecimal digits and the final zero.
inline constexpr unsigned kDumpIdSize = 37;

// A random id, lower-case hexadecimal in the usual 8-4-4-4-12 grouping.
void make_dump_id(char (&id)[kDumpIdSize]);

// Writes the report to `fd`: product and version, process and thread, signal, code and fault
// address, registers, backtrace and the loaded modules (the process's memory map).
void write_crash_report(int fd, const CrashSetup& setup, int sig, const siginfo_t* info,
                        const void* context);

// Appends `text` to the zero-terminated `dest` of `size` bytes; false when it does not fit.
bool append_text(char* dest, unsigned size, const char* text);

}  // namespace quietway::crash_report
