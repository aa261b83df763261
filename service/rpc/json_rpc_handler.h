#pragma once

#include <json/value.h>

#include <list>
#include <memory>
#include <string>

#include "service/rpc/json_rpc_method.h"

namespace Json::Rpc {

// JSON-RPC 2.0 error codes that this dispatcher and its methods answer with.
inline constexpr int kParseError = -32700;
inline constexpr int kInvalidRequest = -32600;
inline constexpr int kMethodNotFound = -32601;
inline constexpr int kInvalidParams = -32602;
inline constexpr int kInternalError = -32603;

inline constexpr const char* kDescribeMethodName = "system.describe";

// Builds the protocol's error object: {"error":{"code":..,"message":..},"id":..,"jsonrpc":"2.0"}.
Json::Value MakeError(int code, const char* message, const Json::Value& id);

// Parses a request (or a batch of them), checks the envelope and calls the registered method.
// HandleMessage and Serialize may run on several threads at once; the method list must not
// change while they do.
class Handler {
public:
    Handler();
    ~Handler();
    Handler(const Handler&) = delete;
    Handler& operator=(const Handler&) = delete;

    // Appends the binding; the handler owns it from now on. Duplicate names are allowed: the
    // first one registered answers.
    void RegisterMethod(std::unique_ptr<CallbackMethod> method);

    // Removes and deletes the first binding of that name; "system.describe" always stays.
    void UnregisterMethod(const std::string& name);

    // `text` is read up to its first NUL. `response` comes in null and holds the reply, or stays
    // null when there is nothing to send. True for a batch and for a method that returned true.
    bool HandleMessage(const char* text, Json::Value& response);

    // Compact JSON followed by "\n"; each call writes into a buffer of its own.
    std::string Serialize(const Json::Value& value) const;

    // The method behind "system.describe": every binding's description, keyed by name.
    bool DescribeMethods(const Json::Value& request, Json::Value& response);

private:
    bool Process(const Json::Value& request, Json::Value& response);
    static bool ValidateRequest(const Json::Value& request);
    CallbackMethod* FindMethod(const std::string& name) const;

    std::list<std::unique_ptr<CallbackMethod>> methods_;
};

}  // namespace Json::Rpc
