#include <gtest/gtest.h>

#include "tools/quietway_ctl/ctl_args.h"

namespace quietway::ctl {
namespace {

Command make(Verb verb, void (*fill)(Command&) = nullptr) {
    Command command;
    command.verb = verb;
    if (fill != nullptr) fill(command);
    return command;
}

TEST(CtlArguments, WordsBecomeCommandsOrAReasonToRefuse) {
    struct Case {
        std::vector<std::string> words;
        std::optional<Command> expected;  // nothing: refused, with `reason` in the error
        const char* reason = "";
    };
    const Case cases[] = {
        {{"status"}, make(Verb::status)},
        {{"--json", "status"}, make(Verb::status, [](Command& c) { c.json = true; })},
        {{"connect", "--server", "Two", "--type", "ssh-tor", "--no-wait"},
         make(Verb::connect,
              [](Command& c) {
                  c.server = "Two";
                  c.mode = kModeSshTor;
                  c.no_wait = true;
              })},
        {{"connect", "--type", "openvpn"},
         make(Verb::connect, [](Command& c) { c.mode = kModeOpenVpn; })},
        {{"disconnect", "--json"}, make(Verb::disconnect, [](Command& c) { c.json = true; })},
        {{"servers"}, make(Verb::servers)},
        {{"servers", "add", "Three", "10.2.0.3"},
         make(Verb::server_add,
              [](Command& c) {
                  c.name = "Three";
                  c.address = "10.2.0.3";
              })},
        {{"servers", "edit", "3", "--address", "vpn3.example"},
         make(Verb::server_edit,
              [](Command& c) {
                  c.server = "3";
                  c.address = "vpn3.example";
              })},
        {{"servers", "delete", "Three"},
         make(Verb::server_delete, [](Command& c) { c.server = "Three"; })},
        {{"account", "apply", "alice", "--password-stdin"},
         make(Verb::account_apply,
              [](Command& c) {
                  c.user = "alice";
                  c.password_stdin = true;
              })},
        {{"set", "kill-switch", "off"},
         make(Verb::set, [](Command& c) { c.setting = "kill-switch"; })},
        {{"set", "change-servers", "on"},
         make(Verb::set,
              [](Command& c) {
                  c.setting = "change-servers";
                  c.on = true;
              })},
        {{"settings"}, make(Verb::settings)},
        {{"notifications"}, make(Verb::notifications)},
        {{"version"}, make(Verb::version)},
        {{"start"}, make(Verb::pipe_start)},
        {{"server", "50"}, make(Verb::pipe_server, [](Command& c) { c.pipe_server = 50; })},
        {{}, std::nullopt, "no command"},
        {{"restart"}, std::nullopt, "unknown command 'restart'"},
        {{"status", "extra"}, std::nullopt, "no such argument"},
        {{"status", "--verbose"}, std::nullopt, "unknown option '--verbose'"},
        {{"connect", "--server"}, std::nullopt, "--server needs"},
        {{"connect", "--type", "pptp"}, std::nullopt, "unknown connection type"},
        {{"servers", "add", "Three"}, std::nullopt, "NAME and an ADDRESS"},
        {{"servers", "edit", "3"}, std::nullopt, "--name or --address"},
        {{"servers", "rename"}, std::nullopt, "unknown servers command"},
        {{"account", "apply"}, std::nullopt, "needs the USER"},
        {{"account", "apply", "alice", "secret"}, std::nullopt, "never taken as an argument"},
        {{"account", "apply", "alice", "--password", "x"},
         std::nullopt,
         "never taken as an argument"},
        {{"set", "kill-switch"}, std::nullopt, "on or off"},
        {{"set", "kill-switch", "maybe"}, std::nullopt, "needs on or off"},
        {{"set", "tray", "on"}, std::nullopt, "unknown setting"},
        {{"status", "--no-wait"}, std::nullopt, "belongs to connect"},
        {{"server", "100"}, std::nullopt, "1 to 99"},
        {{"servers", "add", std::string(512, 'n'), "a"}, std::nullopt, "longer than 511"},
    };
    for (const Case& c : cases) {
        const std::string words = ::testing::PrintToString(c.words);
        const Parsed parsed = parse_arguments(c.words);
        ASSERT_EQ(parsed.command.has_value(), c.expected.has_value()) << words << parsed.error;
        if (c.expected) {
            EXPECT_TRUE(*parsed.command == *c.expected) << words;
        } else {
            EXPECT_NE(parsed.error.find(c.reason), std::string::npos)
                << words << ": " << parsed.error;
        }
    }
}

}  // namespace
}  // namespace quietway::ctl
