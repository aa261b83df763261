#pragma once

#include <cstdint>
#include <string>

#include "common/privacy/privacy_mode.h"
#include "common/privacy/privacy_status.h"

namespace quietway {

// The service's privacy state as the control API reports it.
struct PrivacyState {
    int32_t privacy_status = kPrivacyStopped;
    int32_t privacy_mode = kPrivacyModeSshProxy;
    int32_t same_user = 0;               // 1 once the account was reported in use elsewhere
    std::string active_server_id = "0";  // server the running session was started with
};

// What the control API needs from the engine; the service application implements it. Calls
// arrive on the HTTP server's worker threads, two at a time at most.
class RpcServerObserver {
public:
    virtual ~RpcServerObserver() = default;

    virtual void get_state(PrivacyState& state) = 0;
    // Stores `mode` in section general and adopts it only when the write succeeded.
    virtual bool set_mode(int32_t mode) = 0;
    // Makes the ready server with that number the activated one.
    virtual bool select_server(const std::string& id) = 0;
    // Drops the activated server; the text is not used.
    virtual bool clear_server(const std::string& id) = 0;
    // Stores the account and provisions every server for it.
    virtual bool apply_account(const std::string& user, const std::string& password) = 0;
    virtual bool start_session() = 0;
    virtual bool stop_session() = 0;
};

}  // namespace quietway
