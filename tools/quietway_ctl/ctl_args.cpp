#include "tools/quietway_ctl/ctl_args.h"

#include <array>
#include <string_view>

#include "common/privacy/privacy_mode.h"

namespace quietway::ctl {
namespace {

// The longest text the store keeps; longer arguments could never be stored as given.
constexpr size_t kLongestArgument = 511;
constexpr int kLastPipeServer = 99;

// Indexed by privacy mode.
constexpr std::array<std::string_view, 3> kModeNames = {"ssh-proxy", "ssh-tor", "openvpn"};
static_assert(kPrivacyModeSshProxy == 0 && kPrivacyModeSshTor == 1 && kPrivacyModeVpn == 2);
constexpr std::array<std::string_view, 3> kSettings = {"kill-switch", "auto-connect",
                                                       "change-servers"};

// The words being read, with the options found among them taken out.
class Reader {
public:
    explicit Reader(std::vector<std::string> words) : words_(std::move(words)) {}

    // Takes a flag wherever it stands.
    bool flag(std::string_view name) {
        for (size_t i = 0; i < words_.size(); ++i) {
            if (words_[i] == name) {
                words_.erase(words_.begin() + static_cast<long>(i));
                return true;
            }
        }
        return false;
    }

    // Takes an option and its value; false when the value is missing.
    bool option(std::string_view name, std::optional<std::string>& value) {
        for (size_t i = 0; i < words_.size(); ++i) {
            if (words_[i] != name) continue;
            if (i + 1 >= words_.size()) return false;
            value = words_[i + 1];
            words_.erase(words_.begin() + static_cast<long>(i),
                         words_.begin() + static_cast<long>(i) + 2);
            return true;
        }
        return true;
    }

    // The first option-looking word left, if any.
    std::string stray_option() const {
        for (const std::string& word : words_) {
            if (word.size() > 1 && word[0] == '-') return word;
        }
        return {};
    }

    const std::vector<std::string>& words() const { return words_; }

private:
    std::vector<std::string> words_;
};

Parsed refuse(std::string why) { return {std::nullopt, std::move(why)}; }

std::optional<int> pipe_server_number(const std::string& text) {
    if (text.empty() || text.size() > 2) return std::nullopt;
    int number = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        number = number * 10 + (c - '0');
    }
    if (number < 1 || number > kLastPipeServer) return std::nullopt;
    return number;
}

bool mentions_password(const std::string& word) {
    return word == "--password" || word.starts_with("--password=") || word == "-p";
}

Parsed parse_connect(Command command, Reader& reader) {
    std::optional<std::string> server;
    std::optional<std::string> type;
    if (!reader.option("--server", server)) return refuse("--server needs a server id or name");
    if (!reader.option("--type", type)) return refuse("--type needs openvpn, ssh-proxy or ssh-tor");
    if (server) command.server = *server;
    if (server && server->empty()) return refuse("--server needs a server id or name");
    if (type) {
        for (size_t i = 0; i < kModeNames.size(); ++i) {
            if (*type == kModeNames[i]) command.mode = static_cast<int>(i);
        }
        if (!command.mode) return refuse("unknown connection type '" + *type + "'");
    }
    if (reader.words().size() != 1)
        return refuse("connect takes only --server, --type and --no-wait");
    return {command, {}};
}

Parsed parse_servers(Command command, Reader& reader) {
    const std::vector<std::string> words = reader.words();
    if (words.size() == 1) {
        command.verb = Verb::servers;
        return {command, {}};
    }
    if (words[1] == "add") {
        if (words.size() != 4) return refuse("servers add needs a NAME and an ADDRESS");
        command.verb = Verb::server_add;
        command.name = words[2];
        command.address = words[3];
        return {command, {}};
    }
    if (words[1] == "edit") {
        if (!reader.option("--name", command.name) || !reader.option("--address", command.address))
            return refuse("--name and --address need a value");
        if (reader.words().size() != 3) return refuse("servers edit needs one server id or name");
        if (!command.name && !command.address)
            return refuse("servers edit needs --name or --address");
        command.verb = Verb::server_edit;
        command.server = reader.words()[2];
        return {command, {}};
    }
    if (words[1] == "delete") {
        if (words.size() != 3) return refuse("servers delete needs one server id or name");
        command.verb = Verb::server_delete;
        command.server = words[2];
        return {command, {}};
    }
    return refuse("unknown servers command '" + words[1] + "'");
}

Parsed parse_account(Command command, Reader& reader) {
    command.password_stdin = reader.flag("--password-stdin");
    const std::vector<std::string>& words = reader.words();
    if (words.size() < 2 || words[1] != "apply")
        return refuse("the account command is: account apply USER");
    if (words.size() < 3 || words[2].empty()) return refuse("account apply needs the USER name");
    if (words.size() > 3) {
        return refuse(
            "a password is never taken as an argument (other users can read it): "
            "type it at the prompt or give it with --password-stdin");
    }
    command.verb = Verb::account_apply;
    command.user = words[2];
    return {command, {}};
}

Parsed parse_set(Command command, const std::vector<std::string>& words) {
    if (words.size() != 3) return refuse("set needs a SETTING and on or off");
    bool known = false;
    for (const std::string_view setting : kSettings) known = known || words[1] == setting;
    if (!known) return refuse("unknown setting '" + words[1] + "'");
    if (words[2] != "on" && words[2] != "off")
        return refuse("set " + words[1] + " needs on or off");
    command.verb = Verb::set;
    command.setting = words[1];
    command.on = words[2] == "on";
    return {command, {}};
}

// The commands that take no other word.
std::optional<Verb> lone_verb(const std::string& word) {
    if (word == "status") return Verb::status;
    if (word == "settings") return Verb::settings;
    if (word == "notifications") return Verb::notifications;
    if (word == "version") return Verb::version;
    if (word == "start") return Verb::pipe_start;
    if (word == "stop") return Verb::pipe_stop;
    return std::nullopt;
}

}  // namespace

Parsed parse_arguments(const std::vector<std::string>& words) {
    for (const std::string& word : words) {
        if (mentions_password(word)) {
            return refuse(
                "a password is never taken as an argument (other users can read it): "
                "type it at the prompt or give it with --password-stdin");
        }
        if (word.size() > kLongestArgument) return refuse("an argument is longer than 511 bytes");
    }
    Reader reader(words);
    Command command;
    command.json = reader.flag("--json");
    command.no_wait = reader.flag("--no-wait");
    if (reader.words().empty()) return refuse("no command given");
    const std::string verb = reader.words()[0];
    if (command.no_wait && verb != "connect" && verb != "disconnect")
        return refuse("--no-wait belongs to connect and disconnect");
    Parsed parsed;
    if (verb == "connect") {
        command.verb = Verb::connect;
        parsed = parse_connect(command, reader);
    } else if (verb == "servers") {
        parsed = parse_servers(command, reader);
    } else if (verb == "account") {
        parsed = parse_account(command, reader);
    } else if (!reader.stray_option().empty()) {
        return refuse("unknown option '" + reader.stray_option() + "'");
    } else if (verb == "set") {
        parsed = parse_set(command, reader.words());
    } else if (verb == "disconnect" && reader.words().size() == 1) {
        command.verb = Verb::disconnect;
        parsed = {command, {}};
    } else if (verb == "server" && reader.words().size() == 2) {
        const auto number = pipe_server_number(reader.words()[1]);
        if (!number) return refuse("server N needs a number from 1 to 99");
        command.verb = Verb::pipe_server;
        command.pipe_server = *number;
        parsed = {command, {}};
    } else if (const auto lone = lone_verb(verb); lone && reader.words().size() == 1) {
        command.verb = *lone;
        parsed = {command, {}};
    } else if (lone || verb == "disconnect" || verb == "server") {
        return refuse(verb + " takes no such argument");
    } else {
        return refuse("unknown command '" + verb + "'");
    }
    if (parsed.command && !reader.stray_option().empty())
        return refuse("unknown option '" + reader.stray_option() + "'");
    return parsed;
}

std::string mode_name(int mode) {
    if (mode < 0 || mode >= static_cast<int>(kModeNames.size())) return "unknown";
    return std::string(kModeNames[static_cast<size_t>(mode)]);
}

std::string usage_text() {
    return "usage: quietway_ctl [--json] COMMAND\n"
           "  status                          the connection, server, kill switch and account\n"
           "  connect [--server ID|NAME] [--type openvpn|ssh-proxy|ssh-tor] [--no-wait]\n"
           "  disconnect [--no-wait]\n"
           "  servers                         the servers, the active one marked *\n"
           "  servers add NAME ADDRESS\n"
           "  servers edit ID|NAME [--name NAME] [--address ADDRESS]\n"
           "  servers delete ID|NAME\n"
           "  account apply USER [--password-stdin]   the password is asked without echo\n"
           "  settings\n"
           "  set kill-switch|auto-connect|change-servers on|off\n"
           "  notifications\n"
           "  version\n"
           "  start | stop | server N         the engine's pipe, as in the first version\n"
           "Exit status: 0 done, 1 the engine refused or cannot be reached, 2 bad usage.\n";
}

}  // namespace quietway::ctl
