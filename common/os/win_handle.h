#pragma once

#include <windows.h>

namespace quietway {

// Owns one kernel handle and closes it on every path.
class WinHandle {
public:
    explicit WinHandle(HANDLE handle = nullptr) : handle_(handle) {}
    ~WinHandle() { reset(); }
    WinHandle(const WinHandle&) = delete;
    WinHandle& operator=(const WinHandle&) = delete;

    HANDLE get() const { return handle_; }
    HANDLE* receive() {
        reset();
        return &handle_;
    }
    HANDLE release() {
        HANDLE handle = handle_;
        handle_ = nullptr;
        return handle;
    }
    bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
    void reset(HANDLE handle = nullptr) {
        if (valid()) CloseHandle(handle_);
        handle_ = handle;
    }

private:
    HANDLE handle_;
};

}  // namespace quietway
