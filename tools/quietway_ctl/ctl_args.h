#pragma once

#include <optional>
#include <string>
#include <vector>

namespace quietway::ctl {

enum class Verb {
    status,
    connect,
    disconnect,
    servers,
    server_add,
    server_edit,
    server_delete,
    account_apply,
    settings,
    set,
    notifications,
    version,
    // The pipe's own commands, kept for scripts written against the first version of the tool.
    pipe_start,
    pipe_stop,
    pipe_server,
};

// The connection types by the engine's mode numbers.
inline constexpr int kModeSshProxy = 0;
inline constexpr int kModeSshTor = 1;
inline constexpr int kModeOpenVpn = 2;

struct Command {
    Verb verb = Verb::status;
    bool json = false;
    bool no_wait = false;
    bool password_stdin = false;
    std::string server;       // --server, or the server that edit and delete name (id or name)
    std::optional<int> mode;  // --type
    std::optional<std::string> name;
    std::optional<std::string> address;
    std::string user;
    std::string setting;  // set: kill-switch, auto-connect or change-servers
    bool on = false;
    int pipe_server = 0;  // server N: 1 to 99

    bool operator==(const Command&) const = default;
};

struct Parsed {
    std::optional<Command> command;
    std::string error;  // why the words make no command
};

// The command for the words after the program's name.
Parsed parse_arguments(const std::vector<std::string>& words);

std::string usage_text();

// The name of a connection type on the command line and in JSON.
std::string mode_name(int mode);

inline constexpr int kExitDone = 0;
inline constexpr int kExitRefused = 1;
inline constexpr int kExitUsage = 2;

}  // namespace quietway::ctl
