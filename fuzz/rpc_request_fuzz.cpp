// A control API request text through the JSON-RPC dispatcher and the methods, with an engine
// that only keeps its state. Every reply must be valid JSON: an object or a batch array.
#include <json/reader.h>

#include <memory>
#include <sstream>
#include <string>

#include "fuzz/fuzz_environment.h"
#include "service/rpc/rpc_http_server.h"
#include "service/rpc/rpc_server_observer.h"

namespace {

using namespace quietway;

class StateOnlyEngine : public RpcServerObserver {
public:
    void get_state(PrivacyState& state) override { state = state_; }
    bool set_mode(int32_t mode) override {
        state_.privacy_mode = mode;
        return true;
    }
    bool select_server(const std::string& id) override {
        state_.active_server_id = id;
        return true;
    }
    bool clear_server(const std::string&) override {
        state_.active_server_id = "0";
        return true;
    }
    bool apply_account(const std::string&, const std::string&) override { return true; }
    bool start_session() override {
        state_.privacy_status = kPrivacyConnected;
        return true;
    }
    bool stop_session() override {
        state_.privacy_status = kPrivacyStopped;
        return true;
    }

private:
    PrivacyState state_;
};

RpcHttpServer2& endpoint() {
    fuzz::environment();
    static StateOnlyEngine engine;
    static RpcHttpServer2* server = [] {
        auto* made = new RpcHttpServer2(engine);
        made->RegisterMethods();
        return made;
    }();
    return *server;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    RpcHttpServer2& server = endpoint();
    const std::string text(reinterpret_cast<const char*>(data), size);
    Json::Value response;
    server.handler().HandleMessage(text.c_str(), response);
    if (response.isNull()) return 0;
    const std::string reply = server.handler().Serialize(response);
    fuzz::require(!reply.empty() && reply.back() == '\n', "a reply ends with a line break");
    Json::CharReaderBuilder builder;
    Json::Value parsed;
    std::string errors;
    std::istringstream in(reply);
    fuzz::require(Json::parseFromStream(builder, in, &parsed, &errors), "a reply parses");
    fuzz::require(parsed.isObject() || parsed.isArray(), "a reply is an object or a batch");
    return 0;
}
