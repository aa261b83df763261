// status, connect and disconnect.
#include <chrono>
#include <ctime>
#include <string>
#include <thread>

#include "common/privacy/privacy_status.h"
#include "tools/quietway_ctl/ctl_pipe.h"
#include "tools/quietway_ctl/ctl_run.h"
#include "tools/quietway_ctl/ctl_sentences.h"

namespace quietway::ctl {
namespace {

constexpr auto kPollStep = std::chrono::milliseconds(500);
constexpr int kWaitSeconds = 90;
// A start that has not left the stopped state after this long has failed.
constexpr int kStartGraceSeconds = 5;
constexpr long kSecondsPerDay = 86400;

// Days left on the account (0 once expired); -1 while the expiry is unknown.
long days_left(const std::string& expires) {
    if (expires.empty() || expires.size() > 19) return -1;
    long long seconds = 0;
    for (const char c : expires) {
        if (c < '0' || c > '9') return -1;
        seconds = seconds * 10 + (c - '0');
    }
    if (seconds <= 0) return -1;
    const long long left = seconds - static_cast<long long>(std::time(nullptr));
    return left <= 0 ? 0 : static_cast<long>((left + kSecondsPerDay - 1) / kSecondsPerDay);
}

const char* on_off(bool on) { return on ? "on" : "off"; }

// The whole status: get_general, the active server from get_servers, its address while
// connected.
bool read_status(Context& context, Json::Value& status, ApiFailure& failure) {
    Json::Value general;
    Json::Value servers;
    Json::Value state;
    if (!context.api.call("get_general", general, failure) ||
        !context.api.call("get_servers", servers, failure) ||
        !context.api.call("get_active_server_state", state, failure)) {
        return false;
    }
    status = Json::Value(Json::objectValue);
    status["state"] = state_name(general["privacy_status"].asInt());
    status["type"] = mode_name(general["privacy_mode"].asInt());
    status["server"] = Json::Value();
    const std::string active = std::to_string(general["active_server"].asInt());
    std::string problem;
    if (const Json::Value* server = find_server(servers["servers"], active, problem)) {
        Json::Value shown(Json::objectValue);
        for (const char* member : {"id", "name", "address"}) shown[member] = (*server)[member];
        shown["connected_to"] = state["server_ip"].asString();
        status["server"] = shown;
    }
    status["kill_switch"] = general["use_firewall"].asInt() != 0;
    const long days = days_left(general["account_expires"].asString());
    status["account_days_left"] = days < 0 ? Json::Value() : Json::Value(Json::Int64(days));
    status["same_account_elsewhere"] = general["same_user"].asInt() != 0;
    return true;
}

void print_status(const Output& out, const Json::Value& status) {
    out.line("state:        " + status["state"].asString());
    out.line("type:         " + status["type"].asString());
    const Json::Value& server = status["server"];
    std::string where = "none selected";
    if (server.isObject()) {
        where = server_words(server);
        if (!server["connected_to"].asString().empty())
            where += ", connected to " + printable(server["connected_to"].asString());
    }
    out.line("server:       " + where);
    out.line(std::string("kill switch:  ") + on_off(status["kill_switch"].asBool()));
    const Json::Value& days = status["account_days_left"];
    out.line("account:      " + (days.isNull() ? std::string("expiry not known yet")
                                 : days.asInt() == 0
                                     ? std::string("expired")
                                     : std::to_string(days.asInt()) + " days left"));
    out.line(std::string("elsewhere:    ") + (status["same_account_elsewhere"].asBool()
                                                  ? "the same account is in use elsewhere"
                                                  : "the account is not in use elsewhere"));
}

int report_status(Context& context) {
    Json::Value status;
    ApiFailure failure;
    if (!read_status(context, status, failure)) return context.out.refused(failure);
    context.out.object(status);
    print_status(context.out, status);
    return kExitDone;
}

// Polls until the session is connected (to `server` when given) or has stopped.
int wait_connected(Context& context, const std::string& server) {
    const auto start = std::chrono::steady_clock::now();
    const auto elapsed = [&] { return std::chrono::steady_clock::now() - start; };
    ApiFailure failure;
    while (elapsed() < std::chrono::seconds(kWaitSeconds)) {
        Json::Value general;
        if (!context.api.call("get_general", general, failure)) return context.out.refused(failure);
        const int state = general["privacy_status"].asInt();
        const bool right_server =
            server.empty() || std::to_string(general["active_server"].asInt()) == server;
        if (state == kPrivacyConnected && right_server) return report_status(context);
        if (state == kPrivacyStopped && elapsed() > std::chrono::seconds(kStartGraceSeconds)) {
            return context.out.refused(
                "The connection could not be established. The service's log tells why.");
        }
        std::this_thread::sleep_for(kPollStep);
    }
    return context.out.refused("The connection was not established within " +
                               std::to_string(kWaitSeconds) + " seconds; it may still come up.");
}

}  // namespace

std::string state_name(int privacy_status) {
    switch (privacy_status) {
        case kPrivacyStopped:
            return "stopped";
        case kPrivacyConnecting:
            return "connecting";
        case kPrivacyConnected:
            return "connected";
        default:
            return "unknown";
    }
}

int show_status(Context& context) { return report_status(context); }

int connect(Context& context) {
    const Command& command = context.command;
    ApiFailure failure;
    Json::Value reply;
    if (command.mode) {
        Json::Value params(Json::objectValue);
        params["mode"] = *command.mode;
        if (!context.api.call("set_privacy_mode", params, reply, failure))
            return context.out.refused(failure);
    }
    if (!context.api.call("get_general", reply, failure)) return context.out.refused(failure);
    const bool stopped = reply["privacy_status"].asInt() == kPrivacyStopped;
    std::string target;
    if (!command.server.empty()) {
        Json::Value servers;
        if (!context.api.call("get_servers", servers, failure)) return context.out.refused(failure);
        std::string problem;
        const Json::Value* server = find_server(servers["servers"], command.server, problem);
        if (server == nullptr) return context.out.refused(problem);
        target = std::to_string((*server)["id"].asInt());
        Json::Value params(Json::objectValue);
        params["index"] = target;
        if (!context.api.call("activate_server", params, reply, failure))
            return context.out.refused(failure);
    }
    if (stopped || target.empty()) {
        if (!context.api.call("start_privacy", Json::Value(), reply, failure))
            return context.out.refused(failure);
    } else {
        // A running session moves to the server only through the pipe's restart.
        const int number = std::stoi(target);
        int status = 0;
        if (number > 99)
            return context.out.refused("A running connection can only move to servers 1 to 99.");
        if (!pipe_command(kPipeServerBase + number, status))
            return context.out.refused("The Quietway service's pipe does not answer.");
    }
    if (command.no_wait) {
        context.out.line("connecting");
        Json::Value shown(Json::objectValue);
        shown["state"] = "connecting";
        context.out.object(shown);
        return kExitDone;
    }
    return wait_connected(context, target);
}

int disconnect(Context& context) {
    // The pipe stops a session in any state, also one still connecting.
    int status = 0;
    if (!pipe_command(kPipeStop, status)) return context.out.refused(kEngineUnreachable);
    const auto start = std::chrono::steady_clock::now();
    while (!context.command.no_wait && !pipe_stopped(status) &&
           std::chrono::steady_clock::now() - start < std::chrono::seconds(kWaitSeconds)) {
        std::this_thread::sleep_for(kPollStep);
        if (!pipe_command(kPipeStatus, status))
            return context.out.refused("The Quietway service stopped answering.");
    }
    const bool stopped = pipe_stopped(status);
    if (!context.command.no_wait && !stopped)
        return context.out.refused("The connection did not stop within " +
                                   std::to_string(kWaitSeconds) + " seconds.");
    Json::Value shown(Json::objectValue);
    shown["state"] = stopped ? "stopped" : "stopping";
    context.out.object(shown);
    context.out.line(stopped ? "disconnected" : "disconnecting");
    return kExitDone;
}

int pipe_only(const Command& command, const Output& out) {
    const int request = command.verb == Verb::pipe_start  ? kPipeStart
                        : command.verb == Verb::pipe_stop ? kPipeStop
                                                          : kPipeServerBase + command.pipe_server;
    int status = 0;
    if (!pipe_command(request, status))
        return out.refused("The Quietway engine cannot be reached over its pipe.");
    Json::Value shown(Json::objectValue);
    shown["state"] = pipe_status_words(status);
    out.object(shown);
    out.line(pipe_status_words(status));
    return kExitDone;
}

}  // namespace quietway::ctl
