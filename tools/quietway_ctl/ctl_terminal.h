#pragma once

#include <cstddef>
#include <string>

namespace quietway::ctl {

// Whether standard input is a terminal a person types at.
bool input_is_terminal();

// The longest password the engine keeps.
inline constexpr size_t kLongestSecret = 511;

// One line of standard input without its line end; false at its end, on a read error or when
// the line is longer than kLongestSecret.
bool read_bounded_line(std::string& line);

// Shows `prompt` on standard error and reads one line from the terminal without echoing it.
// False when nothing could be read.
bool read_hidden_line(const std::string& prompt, std::string& line);

}  // namespace quietway::ctl
