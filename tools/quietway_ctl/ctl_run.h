#pragma once

#include "tools/quietway_ctl/ctl_api.h"
#include "tools/quietway_ctl/ctl_args.h"
#include "tools/quietway_ctl/ctl_output.h"

namespace quietway::ctl {

// Runs a parsed command against the engine; the exit status.
int run(const Command& command);

// What every command works with.
struct Context {
    const Command& command;
    ApiClient& api;
    const Output& out;
};

int show_status(Context& context);
int connect(Context& context);
int disconnect(Context& context);
int pipe_only(const Command& command, const Output& out);
int list_servers(Context& context);
int add_server(Context& context);
int edit_server(Context& context);
int delete_server(Context& context);
int apply_account(Context& context);
int show_settings(Context& context);
int change_setting(Context& context);
int show_notifications(Context& context);
int show_version(Context& context);

}  // namespace quietway::ctl

namespace quietway::ctl {

// "stopped", "connecting", "connected".
std::string state_name(int privacy_status);

// The server that `id_or_name` names in a `servers` list: its number or its exact name. Null,
// with the reason in `problem`, when none or several match.
const Json::Value* find_server(const Json::Value& servers, const std::string& id_or_name,
                               std::string& problem);

// One server as the tool shows it: "2 Two (10.2.0.2)".
std::string server_words(const Json::Value& server);

}  // namespace quietway::ctl
