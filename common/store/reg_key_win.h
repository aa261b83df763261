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
    // Takes over a key opened elsewhere.
    void adopt(HKEY key) {
        close();
        key_ = key;
    }
    void swap(RegKey& other) noexcept {
        HKEY held = key_;
        key_ = other.key_;
        other.key_ = held;
    }
    void close() {
        if (key_ != nullptr) RegCloseKey(key_);
        key_ = nullptr;
    }
    HKEY get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

// Opens the key below HKEY_LOCAL_MACHINE with `access`, creating it and its missing parents
// one level at a time: each created key gets a null DACL (full access for every account) at
// or below the notifications key, and otherwise a protected DACL that lets only SYSTEM and the
// administrators change it and other users read it. Fails for a path the store cannot hold.
bool create_store_key(const char* path, REGSAM access, RegKey& key);

// The protected descriptor's DACL in its text form, as the registry reports it back.
inline constexpr const char* kProtectedKeyDacl = "D:P(A;CI;KA;;;SY)(A;CI;KA;;;BA)(A;CI;KR;;;BU)";

}  // namespace quietway
