#include <gtest/gtest.h>

#include <csignal>

#include "tests/common/crash/crash_expectations.h"

namespace quietway::testing {

uint32_t exit_code_after(CrashKind kind) {
    // The process dies of the signal itself; run_program reports 128 + its number.
    return 128u + static_cast<uint32_t>(kind == CrashKind::abort ? SIGABRT : SIGSEGV);
}

void expect_dump_describes(const std::string& dump, CrashKind kind, const std::string& product) {
    EXPECT_EQ(dump.rfind("Quietway crash report\n", 0), 0u) << dump.substr(0, 200);
    EXPECT_NE(dump.find("product: " + product + "\n"), std::string::npos);
    EXPECT_NE(dump.find("version: 337.9efd447\n"), std::string::npos);
    const std::string signal =
        kind == CrashKind::abort ? "signal: 6 (SIGABRT)\n" : "signal: 11 (SIGSEGV)\n";
    EXPECT_NE(dump.find(signal), std::string::npos) << dump.substr(0, 400);
    if (kind == CrashKind::null_write) {
        EXPECT_NE(dump.find("fault address: 0x0000000000000000\n"), std::string::npos);
    }
    EXPECT_NE(dump.find("registers:\n"), std::string::npos);
    // The backtrace lists frames of the crashing program, the module list maps it.
    const size_t backtrace = dump.find("backtrace:\n");
    const size_t modules = dump.find("modules:\n");
    ASSERT_NE(backtrace, std::string::npos);
    ASSERT_NE(modules, std::string::npos);
    EXPECT_NE(dump.substr(backtrace, modules - backtrace).find("crash_victim"), std::string::npos)
        << dump.substr(backtrace, modules - backtrace);
    EXPECT_NE(dump.find("/crash_victim\n", modules), std::string::npos);
}

}  // namespace quietway::testing
