#include <windows.h>

#include "tests/support/store_fixture.h"

namespace quietway::testing {

bool put_raw_value(const std::string& path, const std::string& name, uint32_t type,
                   const std::string& data) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    // A non-NUL byte after the data, or the registry would add a terminator of its own.
    const std::string guarded = data + '\x01';
    const LONG result =
        RegSetValueExA(key, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(guarded.data()),
                       static_cast<DWORD>(data.size()));
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
}

}  // namespace quietway::testing
