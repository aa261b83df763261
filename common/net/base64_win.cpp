#include "common/net/base64.h"

// windows.h first: wincrypt.h uses its types.
#include <windows.h>

#include <wincrypt.h>

#include <limits>
#include <vector>

namespace quietway {

bool base64_encode(std::string_view data, std::string& out) {
    out.clear();
    if (data.empty()) return true;
    if (data.size() > std::numeric_limits<DWORD>::max() / 2) return false;
    const auto* bytes = reinterpret_cast<const BYTE*>(data.data());
    const auto length = static_cast<DWORD>(data.size());
    const DWORD flags = CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF;
    DWORD size = 0;  // the first call reports the size, terminator included
    if (!CryptBinaryToStringA(bytes, length, flags, nullptr, &size) || size == 0) return false;
    std::vector<char> encoded(size);
    if (!CryptBinaryToStringA(bytes, length, flags, encoded.data(), &size)) return false;
    out.assign(encoded.data(), size);
    return true;
}

}  // namespace quietway
