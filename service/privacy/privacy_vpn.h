#pragma once

#include <string>
#include <vector>

#include "service/privacy/pipe_bridge.h"
#include "service/privacy/privacy_observer.h"

// The privacy session of mode 2: the OpenVPN client on the active server's configuration.
namespace quietway {

class ServersManager;

// Room the argument string must fit in, its terminator included.
inline constexpr size_t kVpnArgumentCapacity = 1024;

// The client's arguments for the configuration of server `id` under `conf_dir`; false, with
// `out` left empty, when the argument string would not fit its buffer.
bool vpn_arguments(const std::string& conf_dir, const std::string& id,
                   std::vector<std::string>& out);

class PrivacyVpn final : public PipeBridgeObserver {
public:
    explicit PrivacyVpn(PrivacyObserver& observer) : bridge_(*this), observer_(observer) {}

    // Starts the client for the manager's active server. False, with status 1 reported, when
    // the arguments do not fit or no reader thread could be made.
    bool start(const ServersManager& manager);
    void stop() { bridge_.stop(); }
    bool running() const { return bridge_.running(); }

    void on_bridge_failed(int code) override;
    bool on_output(const char* text) override;
    void on_child_ending(const ChildProcessInfo& child) override;
    void on_bridge_finished() override;

private:
    PipeBridge bridge_;
    PrivacyObserver& observer_;
    // Where a tunnel's replaced resolver configuration is saved, for the run's end: written
    // only while no run is in progress.
    std::string app_data_;
};

}  // namespace quietway
