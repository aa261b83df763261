#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "common/log/rotating_log.h"
#include "common/process/launcher.h"
#include "common/process/process_kill.h"
#include "common/process/process_kill_posix.h"
#include "common/process/spawn_posix.h"
#include "updater/app/updater_seams.h"

extern char** environ;

namespace quietway {

const char* const kTrayProgramPath = "/bin/quietway_tray";
const char* const kFirewallProgramPath = "/bin/quietway_firewall";

namespace {

constexpr const char* kTrayImage = "quietway_tray";
constexpr const char* kFirewallImage = "quietway_firewall";
constexpr const char* kEngineImage = "quietway_service";

// Starts a program in a session of its own, not as our child, with standard input on
// /dev/null: nothing waits for it and no terminal hang-up reaches it.
bool start_detached(const std::string& path, const std::vector<std::string>& args,
                    const std::vector<std::string>* env = nullptr) {
    posix::SpawnRequest request;
    request.path = path;
    request.args = args;
    request.env = env;
    request.new_session = true;
    request.detached = true;
    const posix::SpawnResult result = posix::spawn_process(request);
    if (!result.ok) log("cannot start %s, error %d", path.c_str(), result.error);
    return result.ok;
}

class PosixProcessSide final : public ProcessSide {
public:
    bool tray_running() override { return is_process_running(kTrayImage); }
    bool start_tray(const std::string& program) override {
        return run_in_user_session(program.c_str());
    }
    void kill_firewall() override { kill_processes_by_name(kFirewallImage); }
    bool start_firewall(const std::string& program) override {
        return start_detached(program, {program});
    }
    // The package tool is not waited for, as the installer is not on Windows: its maintainer
    // scripts restart this service, which must not be waiting on them then.
    bool run_installer(const std::string& path) override {
        if (path.empty() || path.front() != '/') {
            log("cannot install %s: not an absolute path", path.c_str());
            return false;
        }
        std::string dpkg;
        if (!posix::find_executable("dpkg", dpkg)) {
            log("cannot install %s: no dpkg", path.c_str());
            return false;
        }
        std::vector<std::string> env;
        for (char** entry = environ; *entry != nullptr; ++entry) {
            if (std::string_view(*entry).starts_with("DEBIAN_FRONTEND=")) continue;
            env.emplace_back(*entry);
        }
        env.emplace_back("DEBIAN_FRONTEND=noninteractive");
        return start_detached(dpkg, {dpkg, "-i", path}, &env);
    }
    void end_engine() override { kill_processes_by_name(kEngineImage); }
};

}  // namespace

std::unique_ptr<ProcessSide> make_system_process_side() {
    return std::make_unique<PosixProcessSide>();
}

}  // namespace quietway
