#pragma once

#include <json/json.h>

#include <string>

#include "tools/quietway_ctl/ctl_endpoint.h"

namespace quietway::ctl {

// Why a call gave no usable reply, in words, and the code behind it (the method's or the
// protocol's error code; 0 when the engine could not be asked).
struct ApiFailure {
    int code = 0;
    std::string sentence;
    Json::Value reply;  // what the engine answered, when it answered
};

// The engine's control API as root or the console user sees it. The credential is obtained
// once, at the first call: root reads the API account from the store, anyone else asks the
// engine for it the way the web interface's pages do, and only the console user gets it.
class ApiClient {
public:
    explicit ApiClient(Endpoint endpoint) : endpoint_(std::move(endpoint)) {}

    // True with the reply when the method answered "error" 0.
    bool call(const std::string& method, const Json::Value& params, Json::Value& reply,
              ApiFailure& failure, int timeout_seconds = 120);
    bool call(const std::string& method, Json::Value& reply, ApiFailure& failure) {
        return call(method, Json::Value(), reply, failure);
    }

private:
    bool obtain_credential(ApiFailure& failure);

    Endpoint endpoint_;
    std::string authorization_;
    int next_id_ = 1;
};

// The reply's text as one JSON object; false when it is not one.
bool parse_object(const std::string& text, Json::Value& value);

}  // namespace quietway::ctl
