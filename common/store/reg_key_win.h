#pragma once

#include <windows.h>

// An open registry key, closed on every path out of the operation that opened it.
namespace quietway {

class RegKey {
public:
    RegKey() = default;
    ~RegKey() { close(); }
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;

    // RegOpenKeyExA below HKEY_LOCAL_MACHINE.
    bool open(const char* path, REGSAM access) {
        close();
        return RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, access, &key_) == ERROR_SUCCESS;
    }
    // RegCreateKeyExA below HKEY_LOCAL_MACHINE; `security` may be null for the default.
    bool create(HKEY root, const char* path, REGSAM access, SECURITY_ATTRIBUTES* security) {
        close();
        return RegCreateKeyExA(root, path, 0, nullptr, REG_OPTION_NON_VOLATILE, access, security,
                               &key_, nullptr) == ERROR_SUCCESS;
    }
    void close() {
        if (key_ != nullptr) RegCloseKey(key_);
        key_ = nullptr;
    }
    HKEY get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

}  // namespace quietway
