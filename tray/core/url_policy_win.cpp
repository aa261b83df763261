#include <windows.h>
// windows.h first: the shell header needs its types.
#include <shellapi.h>

#include <string>

#include "common/log/rotating_log.h"
#include "tray/core/url_policy.h"

namespace quietway {

bool launch_url_opener(const std::string& url) {
    // Addresses from the vendor are UTF-8; ones that are not valid UTF-8 are taken in the
    // system code page.
    UINT code_page = CP_UTF8;
    int length = MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, url.data(),
                                     static_cast<int>(url.size()), nullptr, 0);
    if (length <= 0) {
        code_page = CP_ACP;
        length =
            MultiByteToWideChar(code_page, 0, url.data(), static_cast<int>(url.size()), nullptr, 0);
    }
    if (length <= 0) return false;
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(code_page, 0, url.data(), static_cast<int>(url.size()), wide.data(),
                        length);
    const auto result = reinterpret_cast<INT_PTR>(
        ShellExecuteW(nullptr, L"open", wide.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    if (result <= 32) {
        log("ShellExecute failed to open a web address, code %d", static_cast<int>(result));
        return false;
    }
    return true;
}

}  // namespace quietway
