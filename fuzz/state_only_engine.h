#pragma once

#include <string>

#include "service/rpc/rpc_server_observer.h"

namespace quietway::fuzz {

// An engine for the control API targets that only keeps its state, so every method runs to
// its reply without starting anything.
class StateOnlyEngine : public RpcServerObserver {
public:
    void get_state(PrivacyState& state) override { state = state_; }
    bool set_mode(int32_t mode) override {
        state_.privacy_mode = mode;
        return true;
    }
    bool select_server(const std::string& id) override {
        state_.active_server_id = id;
        return true;
    }
    bool clear_server(const std::string&) override {
        state_.active_server_id = "0";
        return true;
    }
    bool apply_account(const std::string&, const std::string&) override { return true; }
    bool start_session() override {
        state_.privacy_status = kPrivacyConnected;
        return true;
    }
    bool stop_session() override {
        state_.privacy_status = kPrivacyStopped;
        return true;
    }

private:
    PrivacyState state_;
};

}  // namespace quietway::fuzz
