#include <windows.h>

#include "tools/quietway_reg/reg_text.h"

namespace quietway::reg_text {

// The programs' text is in the system code page; a character it cannot hold is refused
// rather than replaced by a look-alike.
bool utf16_to_narrow(const std::u16string& wide, std::string& narrow) {
    if (wide.empty()) {
        narrow.clear();
        return true;
    }
    const auto* source = reinterpret_cast<const wchar_t*>(wide.data());
    const int length = static_cast<int>(wide.size());
    BOOL lossy = FALSE;
    const int size = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, source, length, nullptr, 0,
                                         nullptr, &lossy);
    if (size <= 0 || lossy) return false;
    std::string out(static_cast<size_t>(size), '\0');
    if (WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, source, length, out.data(), size, nullptr,
                            &lossy) != size ||
        lossy)
        return false;
    narrow = std::move(out);
    return true;
}

}  // namespace quietway::reg_text
