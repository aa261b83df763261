#pragma once

#include <string>
#include <string_view>

namespace quietway {

// Standard Base64 (RFC 4648 alphabet, "=" padding, no line breaks) through the platform's
// own encoder. False only when the encoder fails.
bool base64_encode(std::string_view data, std::string& out);

}  // namespace quietway
