#pragma once

#include <ostream>
#include <string>
#include <vector>

// The commands of quietway_reg, run on the arguments after the program name. Results go to
// `out`, messages to `err`; the return value is the exit code.
namespace quietway::reg_tool {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// Largest .reg file that import reads.
inline constexpr size_t kMaxImportFile = 16 * 1024 * 1024;

int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

void print_usage(std::ostream& stream);

}  // namespace quietway::reg_tool
