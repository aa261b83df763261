// "check_connection": the connection test of the web interface's test page. The engine probes
// (the vendor's check address for the exit address, the check name through the machine's
// resolver) and answers within kCheckLimitMs.
#include <atomic>

#include "service/dns/connection_check.h"
#include "service/rpc/rpc_http_server.h"

namespace quietway {
namespace {

constexpr int kDone = 0;
constexpr int kCheckNotConfigured = 11;
constexpr int kCheckRunning = 12;

// One test at a time: each holds one of the server's two workers for seconds.
std::atomic<bool> g_checking{false};

class CheckTurn {
public:
    CheckTurn() : taken_(!g_checking.exchange(true)) {}
    ~CheckTurn() {
        if (taken_) g_checking.store(false);
    }
    CheckTurn(const CheckTurn&) = delete;
    CheckTurn& operator=(const CheckTurn&) = delete;
    bool taken() const { return taken_; }

private:
    bool taken_;
};

}  // namespace

bool RpcHttpServer2::check_connection(const Json::Value&, Json::Value& response) {
    AddStatusBlock(TakeState(), response);
    CheckSettings settings;
    if (!read_check_settings(settings)) {
        response["error"] = kCheckNotConfigured;
        return true;
    }
    const CheckTurn turn;
    if (!turn.taken()) {
        response["error"] = kCheckRunning;
        return true;
    }
    const CheckResult result = run_connection_check(settings);
    Json::Value answers(Json::arrayValue);
    for (const std::string& answer : result.answers) answers.append(answer);
    response["dns_answers"] = answers;
    response["dns_resolver"] = resolver_word(result.resolver);
    response["exit_ip"] = result.exit_address;
    response["error"] = kDone;
    return true;
}

}  // namespace quietway
