#include "service/rpc/json_rpc_handler.h"

#include <json/reader.h>
#include <json/writer.h>

#include <cstring>
#include <exception>

#include "common/store/json_text.h"

namespace Json::Rpc {
namespace {

// Comments allowed and ignored, any value as the root, nothing else relaxed. The stack limit
// turns a deeply nested body into a parse error instead of a stack overflow.
bool ParseText(const char* text, Json::Value& root) {
    if (text == nullptr) return false;
    Json::CharReaderBuilder builder;
    builder["allowComments"] = true;
    builder["collectComments"] = false;
    builder["strictRoot"] = false;
    builder["allowTrailingCommas"] = false;
    builder["allowDroppedNullPlaceholders"] = false;
    builder["allowNumericKeys"] = false;
    builder["allowSingleQuotes"] = false;
    builder["allowSpecialFloats"] = false;
    builder["failIfExtra"] = false;
    builder["rejectDupKeys"] = false;
    builder["skipBom"] = false;
    builder["stackLimit"] = 1000;
    try {
        const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
        std::string errors;
        return reader->parse(text, text + std::strlen(text), &root, &errors);
    } catch (const std::exception&) {
        return false;
    }
}

Json::Value IdOf(const Json::Value& request) {
    return request.isObject() && request.isMember("id") ? request["id"] : Json::Value();
}

}  // namespace

Json::Value MakeError(int code, const char* message, const Json::Value& id) {
    Json::Value error(Json::objectValue);
    error["error"]["code"] = code;
    error["error"]["message"] = message;
    error["id"] = id;
    error["jsonrpc"] = "2.0";
    return error;
}

Handler::Handler() {
    Json::Value description(Json::objectValue);
    description["description"] = "List the RPC methods available";
    description["parameters"] = Json::Value();
    description["returns"] = "Object that contains description of all methods registered";
    RegisterMethod(std::make_unique<RpcMethod<Handler>>(*this, &Handler::DescribeMethods,
                                                        kDescribeMethodName, description));
}

Handler::~Handler() = default;

void Handler::RegisterMethod(std::unique_ptr<CallbackMethod> method) {
    if (method) methods_.push_back(std::move(method));
}

void Handler::UnregisterMethod(const std::string& name) {
    if (name == kDescribeMethodName) return;
    for (auto it = methods_.begin(); it != methods_.end(); ++it) {
        if ((*it)->Name() == name) {
            methods_.erase(it);
            return;
        }
    }
}

bool Handler::HandleMessage(const char* text, Json::Value& response) {
    response = Json::Value();
    Json::Value root;
    if (!ParseText(text, root)) {
        response = MakeError(kParseError, "Parse error.", Json::Value());
        return false;
    }
    if (!root.isArray()) return Process(root, response);

    for (const Json::Value& request : root) {
        Json::Value reply;
        Process(request, reply);
        if (!reply.isNull()) response.append(reply);
    }
    return true;
}

bool Handler::Process(const Json::Value& request, Json::Value& response) {
    if (!ValidateRequest(request)) {
        response = MakeError(kInvalidRequest, "Invalid JSON-RPC request.", Json::Value());
        return false;
    }
    const std::string name = request["method"].asString();
    CallbackMethod* method = name.empty() ? nullptr : FindMethod(name);
    if (method == nullptr) {
        response = MakeError(kMethodNotFound, "Method not found.", IdOf(request));
        return false;
    }
    // The methods run on the HTTP server's threads inside a C library: nothing may unwind
    // through it, so a method that throws is answered like any other failure.
    try {
        return method->Invoke(request, response);
    } catch (const std::exception&) {
        response = MakeError(kInternalError, "Internal error.", IdOf(request));
        return false;
    }
}

bool Handler::ValidateRequest(const Json::Value& request) {
    if (!request.isObject()) return false;
    const Json::Value& version = request["jsonrpc"];
    if (!version.isString() || version.asString() != "2.0") return false;
    if (request.isMember("id")) {
        const Json::Value& id = request["id"];
        if (id.isArray() || id.isObject()) return false;
    }
    return request["method"].isString();
}

CallbackMethod* Handler::FindMethod(const std::string& name) const {
    for (const auto& method : methods_) {
        if (method->Name() == name) return method.get();
    }
    return nullptr;
}

std::string Handler::Serialize(const Json::Value& value) const {
    // FastWriter is deprecated in this jsoncpp release but its output is the wire format the
    // web interface reads; a writer per call keeps concurrent calls from sharing its buffer.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    // Every string goes out as valid UTF-8: the writer would read an invalid byte as the start
    // of a sequence and swallow the characters after it.
    Json::FastWriter writer;
    if (quietway::all_valid_utf8(value)) return writer.write(value);
    return writer.write(quietway::with_valid_utf8(value));
#pragma GCC diagnostic pop
}

bool Handler::DescribeMethods(const Json::Value& request, Json::Value& response) {
    Json::Value result(Json::objectValue);
    for (const auto& method : methods_) result[method->Name()] = method->Description();
    response = Json::Value(Json::objectValue);
    response["id"] = IdOf(request);
    response["jsonrpc"] = "2.0";
    response["result"] = result;
    return true;
}

}  // namespace Json::Rpc
