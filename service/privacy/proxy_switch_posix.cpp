#include "service/privacy/proxy_switch_posix.h"

#include <algorithm>

#include "common/log/rotating_log.h"
#include "common/process/run_program_posix.h"
#include "common/process/session_user_posix.h"
#include "service/privacy/proxy_switch.h"

namespace quietway {
namespace posix {
namespace {

constexpr const char* kProxySchema = "org.gnome.system.proxy";
constexpr const char* kIgnoreHosts = "['localhost', '127.0.0.0/8', '::1', '*.local']";

// Runs `args` as `who` with exactly their session's environment, within the time limit. True
// when it exited with 0; `output` gets its output and errors.
bool run_as(const ConsoleUser& who, const std::vector<std::string>& args, std::string& output) {
    SpawnRequest request;
    request.path = args[0];
    request.args = args;
    request.env = &who.env;
    request.user = &who.user;
    request.working_dir = "/";
    RunOptions options;
    options.time_limit_ms = kSettingsToolTimeLimitMs;
    options.output = &output;
    const RunResult result = run_spawn_request(request, options);
    if (result.timed_out) output = "no answer within the time limit";
    return result.started && !result.timed_out && result.exit_code == 0;
}

}  // namespace

bool apply_desktop_proxy(const ConsoleUser& who, const std::string& port, bool on) {
    if (on && !is_proxy_port(port)) return false;
    // Without the session's bus the tool would start one of its own that nothing ends.
    const bool has_bus = std::any_of(who.env.begin(), who.env.end(), [](const std::string& e) {
        return e.rfind("DBUS_SESSION_BUS_ADDRESS=", 0) == 0;
    });
    if (!has_bus) {
        log("set_system_proxy: %s has no session bus, desktop proxy unchanged",
            who.user.name.c_str());
        return false;
    }
    std::string tool;
    if (!find_executable("gsettings", tool)) {
        log("set_system_proxy: gsettings not found, desktop proxy unchanged");
        return false;
    }
    const std::string http = std::string(kProxySchema) + ".http";
    const std::string https = std::string(kProxySchema) + ".https";
    const std::string host = std::string("'") + kLocalProxyHost + "'";
    std::vector<std::vector<std::string>> changes;
    if (on) {
        // The mode comes last, so that programs never see "manual" with a stale address.
        changes = {{tool, "set", http, "host", host},
                   {tool, "set", http, "port", port},
                   {tool, "set", https, "host", host},
                   {tool, "set", https, "port", port},
                   {tool, "set", kProxySchema, "ignore-hosts", kIgnoreHosts}};
    }
    const std::string mode = on ? "manual" : "none";
    changes.push_back({tool, "set", kProxySchema, "mode", mode});
    std::string output;
    for (const std::vector<std::string>& change : changes) {
        if (!run_as(who, change, output)) {
            log("set_system_proxy: gsettings %s %s failed for %s: %s", change[2].c_str(),
                change[3].c_str(), who.user.name.c_str(), output.c_str());
            return false;
        }
    }
    // When the bus does not answer, the tool exits with 0 yet keeps nothing; only reading the
    // mode back tells.
    if (!run_as(who, {tool, "get", kProxySchema, "mode"}, output) || output != "'" + mode + "'\n") {
        log("set_system_proxy: the desktop proxy of %s did not take mode %s", who.user.name.c_str(),
            mode.c_str());
        return false;
    }
    return true;
}

}  // namespace posix

bool set_system_proxy(const std::string& port, bool on) {
    if (on && !is_proxy_port(port)) return false;
    posix::ConsoleUser who;
    if (!posix::find_console_user(who)) return false;
    return posix::apply_desktop_proxy(who, port, on);
}

}  // namespace quietway
