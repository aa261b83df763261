#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <system_error>
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

// dpkg's output and exit code are written beside the package: the package's own scripts stop
// this process before dpkg ends, so the next updater (the new one, or this one started again
// after a failed upgrade) logs them. The shell runs this fixed text only; dpkg and the package
// are its arguments $1 and $2.
constexpr const char* kInstallScript =
    "\"$1\" -i \"$2\" >\"$2.log.part\" 2>&1; echo \"dpkg exit code $?\" >>\"$2.log.part\"; "
    "mv -f \"$2.log.part\" \"$2.log\"";
constexpr const char* kExitLine = "dpkg exit code ";
// What of dpkg's output is logged: its last lines, each cut to a log line's length.
constexpr size_t kMaxOutcomeBytes = 16 * 1024;
constexpr size_t kMaxOutcomeLine = 1000;

// The end of the file at `path`, at most kMaxOutcomeBytes.
std::string read_tail(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    const std::streamoff size = in.tellg();
    if (!in || size < 0) return {};
    const auto start = size > static_cast<std::streamoff>(kMaxOutcomeBytes)
                           ? size - static_cast<std::streamoff>(kMaxOutcomeBytes)
                           : std::streamoff{0};
    in.seekg(start);
    std::string text(static_cast<size_t>(size - start), '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<size_t>(in.gcount()));
    return text;
}

void log_outcome(const std::string& package, const std::string& text) {
    std::string_view rest(text);
    while (!rest.empty()) {
        const size_t end = std::min(rest.find('\n'), rest.size());
        const std::string line(rest.substr(0, std::min(end, kMaxOutcomeLine)));
        rest.remove_prefix(std::min(end + 1, rest.size()));
        if (line.starts_with(kExitLine)) {
            log("Installer %s finished: %s", package.c_str(), line.c_str());
        } else {
            log("dpkg: %s", line.c_str());
        }
    }
}

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
    // scripts stop and start this service, which must not be waiting on them then.
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
        return start_detached("/bin/sh", {"sh", "-c", kInstallScript, "sh", dpkg, path}, &env);
    }
    void report_installer_outcome(const std::string& path) override {
        const std::string outcome = path + ".log";
        std::error_code error;
        if (!std::filesystem::is_regular_file(outcome, error)) return;
        log_outcome(path, read_tail(outcome));
        std::filesystem::remove(outcome, error);
    }
    void end_engine() override { kill_processes_by_name(kEngineImage); }
};

}  // namespace

std::unique_ptr<ProcessSide> make_system_process_side() {
    return std::make_unique<PosixProcessSide>();
}

}  // namespace quietway
