#pragma once

#include <string>
#include <vector>

#include "service/privacy/pipe_bridge.h"
#include "service/privacy/privacy_observer.h"

// The privacy session of modes 0 and 1: plink forwarding a local port to a proxy on the
// active server, with the console user's system proxy pointed at that port.
namespace quietway {

class ServersManager;

inline constexpr const char* kSshLocalPort = "50000";
// Room the forward option and the whole argument string must fit in, terminators included.
inline constexpr size_t kSshForwardCapacity = 256;
inline constexpr size_t kSshArgumentCapacity = 1024;

// What plink needs for one tunnel.
struct SshTunnel {
    std::string ssh_port;
    std::string user;
    std::string password;
    std::string remote_port;  // the proxy port, or the tor port in mode 1
    std::string address;
};

// plink's arguments for `tunnel`, one list entry per argument. `password_option` is "-pw" with
// the password itself or "-pwfile" with a file holding it. False, with `out` left empty, when
// the forward option or the argument string (password written out) would not fit.
bool ssh_arguments(const SshTunnel& tunnel, const std::vector<std::string>& password_option,
                   std::vector<std::string>& out);

class PrivacySsh final : public PipeBridgeObserver {
public:
    explicit PrivacySsh(PrivacyObserver& observer) : bridge_(*this), observer_(observer) {}
    ~PrivacySsh();

    // Switches the system proxy on and starts plink for the manager's active server, to the
    // tor port when `tor` is set. False, with status 1 reported, when the arguments do not
    // fit, the password cannot be handed over or no reader thread could be made.
    bool start(const ServersManager& manager, bool tor);
    void stop() { bridge_.stop(); }
    bool running() const { return bridge_.running(); }

    void on_bridge_failed(int code) override;
    bool on_output(const char* text) override;
    void on_child_ending(const ChildProcessInfo& child) override;
    void on_bridge_finished() override;

private:
    void release_password();

    PipeBridge bridge_;
    PrivacyObserver& observer_;
    // The file the password is handed over in (Linux), removed when the run ends. Written
    // before the reader thread starts and read by it once the run ends, never at once.
    std::string password_file_;
};

// The platform part: how the password reaches plink. On Windows it is "-pw" and the
// password; on Linux "-pwfile" and a file in `server_dir` that only its owner can read, whose
// path is left in `file`.
bool ssh_password_option(const std::string& server_dir, const std::string& password,
                         std::vector<std::string>& option, std::string& file);
// Removes the file ssh_password_option wrote, if any.
void remove_password_file(const std::string& file);

}  // namespace quietway
