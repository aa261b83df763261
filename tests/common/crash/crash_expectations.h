#pragma once

#include <cstdint>
#include <string>

// What a crash looks like from outside on each platform.
namespace quietway::testing {

enum class CrashKind { null_write, abort, stack_overflow, invalid_parameter };

// The exit code run_program reports for a program that crashed this way.
uint32_t exit_code_after(CrashKind kind);

// Checks (with gtest expectations) that the dump's content describes this crash.
void expect_dump_describes(const std::string& dump, CrashKind kind, const std::string& product);

}  // namespace quietway::testing
