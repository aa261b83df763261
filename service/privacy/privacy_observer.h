#pragma once

#include "common/privacy/privacy_status.h"

namespace quietway {

// Privacy event values.
inline constexpr int kPrivacyEventAdapterRestarted = 0;
inline constexpr int kPrivacyEventWaitingForAdapter = 1;
inline constexpr int kPrivacyEventRecoverableError = 2;

// How a privacy session reports to the application. Called from the caller of a session's
// start and from the reader thread of either session, so implementations must be thread-safe
// and accept the same status more than once in a row.
class PrivacyObserver {
public:
    virtual void on_privacy_status(int status) = 0;
    virtual void on_same_user(bool same_user) = 0;
    virtual void on_privacy_event(int event) = 0;

protected:
    ~PrivacyObserver() = default;
};

}  // namespace quietway
