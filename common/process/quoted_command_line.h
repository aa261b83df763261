#pragma once

#include <string>
#include <vector>

namespace quietway {

// Longest command line that process creation accepts on Windows, without the final zero.
inline constexpr size_t kMaxCommandLine = 32766;

// Builds a command line from an argument vector so that the receiving program's runtime
// (CommandLineToArgvW and the C runtime's own parser) splits it back into exactly these
// arguments. args[0] is the program; it is always quoted and must not contain a double quote.
// Returns false (and leaves `out` empty) when that cannot be done: no program, a quote in the
// program, a zero byte in any argument, or a result longer than kMaxCommandLine.
bool build_command_line(const std::vector<std::string>& args, std::string& out);

// Appends one argument (not the program) quoted by the rules above.
void append_quoted_argument(const std::string& arg, std::string& out);

}  // namespace quietway
