#pragma once

#include <json/value.h>

#include <cstdint>
#include <string>

// Parameters of the control API methods, converted the way the JSON library converts them. A
// value the library cannot convert is reported, never thrown, so that a call with bad
// parameters changes nothing.
namespace quietway {

// The request's "params" when it is an object, else an empty object.
const Json::Value& request_params(const Json::Value& request);

// A string as it is, a number in decimal, a boolean as "true"/"false", missing or null as "".
// False for an array or an object.
bool text_param(const Json::Value& params, const char* name, std::string& out);

// An integer as it is, a real truncated toward zero, a boolean as 0/1, missing or null as 0.
// False for text, arrays, objects and numbers outside the 32-bit signed range.
bool int_param(const Json::Value& params, const char* name, int32_t& out);

// The JSON-RPC invalid-params error object, carrying the request's "id" (null when absent).
Json::Value invalid_params_reply(const Json::Value& request);

}  // namespace quietway
