#pragma once

#include <string>
#include <string_view>

namespace quietway {

// Every byte outside the unreserved set (letters, digits, "-._~") as "%XX": fit for a query
// value and for one segment of a path.
std::string percent_encode(std::string_view text);

}  // namespace quietway
