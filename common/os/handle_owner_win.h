#pragma once

#include <utility>

namespace quietway {

// Owns one handle of a Windows API whose handles `Close` releases (null: none held), and
// releases it on every path. Kernel handles, which may also be INVALID_HANDLE_VALUE, have
// WinHandle.
template <typename Handle, auto Close>
class HandleOwner {
public:
    explicit HandleOwner(Handle handle = nullptr) : handle_(handle) {}
    ~HandleOwner() { reset(); }
    HandleOwner(const HandleOwner&) = delete;
    HandleOwner& operator=(const HandleOwner&) = delete;

    Handle get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }
    // For a call that returns the handle through a pointer.
    Handle* receive() {
        reset();
        return &handle_;
    }
    void reset(Handle handle = nullptr) {
        if (handle_ != nullptr) Close(handle_);
        handle_ = handle;
    }
    void swap(HandleOwner& other) noexcept { std::swap(handle_, other.handle_); }

private:
    Handle handle_;
};

}  // namespace quietway
