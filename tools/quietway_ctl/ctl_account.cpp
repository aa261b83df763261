// account apply: the password from a hidden prompt or standard input, each server's outcome
// shown as the engine reaches it.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <thread>

#include "tools/quietway_ctl/ctl_run.h"
#include "tools/quietway_ctl/ctl_terminal.h"

namespace quietway::ctl {
namespace {

// Preparing a server can take long: every server of the list is fetched and tried.
constexpr int kApplySeconds = 900;
constexpr auto kPollStep = std::chrono::milliseconds(500);

bool read_password(const Command& command, std::string& password, std::string& problem) {
    if (command.password_stdin) {
        if (!read_bounded_line(password))
            problem = "No password of at most 511 bytes came on standard input.";
    } else if (!input_is_terminal()) {
        problem = "There is no terminal to ask for the password on; give it with --password-stdin.";
    } else if (!read_hidden_line("Password for " + printable(command.user) + ": ", password)) {
        problem = "No password of at most 511 bytes was typed.";
    }
    if (problem.empty() && password.empty()) problem = "The password is empty.";
    return problem.empty();
}

// Each server's outcome, printed once: when its status changes to ready or failed while the
// apply runs, or at the end (`all`) for those whose status stayed what it was before.
class Progress {
public:
    explicit Progress(const Json::Value& before) {
        for (const Json::Value& server : before)
            last_[server["id"].asInt()] = server["status"].asString();
    }

    void show(const Output& out, const Json::Value& servers, bool all) {
        if (!servers.isArray()) return;
        for (const Json::Value& server : servers) {
            const int id = server["id"].asInt();
            const std::string status = server["status"].asString();
            const bool changed = last_[id] != status;
            last_[id] = status;
            if ((!changed && !all) || printed_.contains(id)) continue;
            if (status != "ready" && status != "failed" && !all) continue;
            printed_.insert(id);
            out.line(server_words(server) + ": " + (status.empty() ? "unknown" : status));
        }
    }

private:
    std::map<int, std::string> last_;
    std::set<int> printed_;
};

}  // namespace

int apply_account(Context& context) {
    std::string password;
    std::string problem;
    if (!read_password(context.command, password, problem)) return context.out.refused(problem);
    // Obtaining the credential before the apply lets the watcher below reuse it.
    Json::Value before;
    ApiFailure failure;
    if (!context.api.call("get_servers", before, failure)) return context.out.refused(failure);
    Progress progress(before["servers"]);
    const Json::Value::ArrayIndex count = before["servers"].size();
    context.out.line("applying the account to " + std::to_string(count) +
                     (count == 1 ? " server..." : " servers..."));
    std::fflush(stdout);

    Json::Value params(Json::objectValue);
    params["user"] = context.command.user;
    params["password"] = password;
    Json::Value reply;
    bool applied = false;
    std::atomic<bool> done{false};
    ApiClient applier = context.api;  // a client of its own for the other thread
    std::thread apply([&] {
        applied = applier.call("apply_account", params, reply, failure, kApplySeconds);
        done.store(true);
    });
    // Reads never wait for the apply, so its progress shows in the servers' statuses.
    while (!done.load()) {
        Json::Value now;
        ApiFailure ignored;
        if (!context.out.json() && context.api.call("get_servers", now, ignored)) {
            progress.show(context.out, now["servers"], false);
            std::fflush(stdout);
        }
        for (int i = 0; i < 4 && !done.load(); ++i) std::this_thread::sleep_for(kPollStep / 4);
    }
    apply.join();
    password.assign(password.size(), '\0');
    params["password"] = "";
    const Json::Value& outcome = applied ? reply : failure.reply;
    progress.show(context.out, outcome["servers"], true);
    if (!applied) return context.out.refused(failure);
    Json::Value result(Json::objectValue);
    result["servers"] = reply["servers"];
    context.out.object(result);
    for (const Json::Value& server : reply["servers"]) {
        if (server["activated"].asInt() == 1)
            context.out.line("active server: " + server_words(server));
    }
    context.out.line("the account is applied");
    return kExitDone;
}

}  // namespace quietway::ctl
