#include <gtest/gtest.h>

#include <cstring>

#include "tests/common/crash/crash_expectations.h"

namespace quietway::testing {
namespace {

constexpr uint32_t kAccessViolation = 0xC0000005;
constexpr uint32_t kStackOverflow = 0xC00000FD;
constexpr uint32_t kAbortExitCode = 3;
constexpr uint32_t kInvalidParameter = 0xC0000417;
constexpr uint32_t kFatalAppExit = 0x40000015;
constexpr uint32_t kExceptionStream = 6;

uint32_t read_u32(const std::string& data, size_t offset) {
    uint32_t value = 0;
    if (offset + 4 <= data.size()) std::memcpy(&value, data.data() + offset, 4);
    return value;
}

// The exception code recorded in a minidump's exception stream, 0 when there is none.
uint32_t recorded_exception_code(const std::string& dump) {
    const uint32_t streams = read_u32(dump, 8);
    const uint32_t directory = read_u32(dump, 12);
    for (uint32_t i = 0; i < streams && i < 64; ++i) {
        const size_t entry = directory + i * 12u;
        if (read_u32(dump, entry) == kExceptionStream) {
            // ThreadId, alignment, then the exception record beginning with its code.
            return read_u32(dump, read_u32(dump, entry + 8) + 8);
        }
    }
    return 0;
}

}  // namespace

uint32_t exit_code_after(CrashKind kind) {
    switch (kind) {
        case CrashKind::null_write:
            return kAccessViolation;
        case CrashKind::abort:
            return kAbortExitCode;
        case CrashKind::stack_overflow:
            return kStackOverflow;
        case CrashKind::invalid_parameter:
            return kInvalidParameter;
    }
    return 0;
}

void expect_dump_describes(const std::string& dump, CrashKind kind, const std::string&) {
    ASSERT_GE(dump.size(), 32u);
    EXPECT_EQ(dump.substr(0, 4), "MDMP");
    const uint32_t expected = kind == CrashKind::abort ? kFatalAppExit : exit_code_after(kind);
    EXPECT_EQ(recorded_exception_code(dump), expected);
}

}  // namespace quietway::testing
