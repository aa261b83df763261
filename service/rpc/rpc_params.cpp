#include "service/rpc/rpc_params.h"

#include "service/rpc/json_rpc_handler.h"

namespace quietway {

const Json::Value& request_params(const Json::Value& request) {
    static const Json::Value empty(Json::objectValue);
    if (!request.isObject()) return empty;
    const Json::Value& params = request["params"];
    return params.isObject() ? params : empty;
}

bool text_param(const Json::Value& params, const char* name, std::string& out) {
    const Json::Value& value = params[name];
    if (!value.isConvertibleTo(Json::stringValue)) return false;
    out = value.asString();
    return true;
}

bool int_param(const Json::Value& params, const char* name, int32_t& out) {
    const Json::Value& value = params[name];
    if (!value.isConvertibleTo(Json::intValue)) return false;
    out = value.asInt();
    return true;
}

Json::Value invalid_params_reply(const Json::Value& request) {
    const Json::Value id =
        request.isObject() && request.isMember("id") ? request["id"] : Json::Value();
    return Json::Rpc::MakeError(Json::Rpc::kInvalidParams, "Invalid params.", id);
}

}  // namespace quietway
