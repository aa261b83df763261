// A control API request text through the JSON-RPC dispatcher and the methods, with an engine
// that only keeps its state. Every reply must be valid JSON: an object or a batch array.
#include <json/reader.h>

#include <memory>
#include <sstream>
#include <string>

#include "fuzz/fuzz_environment.h"
#include "fuzz/state_only_engine.h"
#include "service/rpc/rpc_http_server.h"

namespace {

using namespace quietway;

RpcHttpServer2& endpoint() {
    fuzz::environment();
    static fuzz::StateOnlyEngine engine;
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
