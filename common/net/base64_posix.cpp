#include "common/net/base64.h"

#include <openssl/evp.h>

#include <limits>
#include <vector>

namespace quietway {

bool base64_encode(std::string_view data, std::string& out) {
    out.clear();
    if (data.empty()) return true;
    if (data.size() > static_cast<size_t>(std::numeric_limits<int>::max() / 4 * 3)) return false;
    // Four output bytes per three input bytes, plus the terminator EVP_EncodeBlock writes.
    std::vector<unsigned char> encoded((data.size() + 2) / 3 * 4 + 1);
    const int length =
        EVP_EncodeBlock(encoded.data(), reinterpret_cast<const unsigned char*>(data.data()),
                        static_cast<int>(data.size()));
    if (length < 0) return false;
    out.assign(reinterpret_cast<const char*>(encoded.data()), static_cast<size_t>(length));
    return true;
}

}  // namespace quietway
