#pragma once

#include <windows.h>

namespace quietway {

// A service control manager or service handle, closed on every path.
class ScHandle {
public:
    explicit ScHandle(SC_HANDLE handle) : handle_(handle) {}
    ~ScHandle() {
        if (handle_ != nullptr) CloseServiceHandle(handle_);
    }
    ScHandle(const ScHandle&) = delete;
    ScHandle& operator=(const ScHandle&) = delete;
    SC_HANDLE get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }

private:
    SC_HANDLE handle_;
};

}  // namespace quietway
