#pragma once

#include <string>

namespace quietway::ctl {

// The sentence for an API error: a method's "error" member (1 to 12) or a JSON-RPC error
// object's code (-32700 to -32603), the same words the web interface shows.
std::string api_error_sentence(int code);

// What the tool itself can meet on the way to the engine.
inline constexpr const char* kEngineUnreachable =
    "The Quietway service does not answer. Check that it is running.";
inline constexpr const char* kNotAllowed =
    "Only root (an administrator on Windows) or the user of the active console session may "
    "control Quietway.";
inline constexpr const char* kGarbled =
    "The service sent an answer this tool does not understand. Check that the Quietway service "
    "and quietway_ctl come from the same version.";
inline constexpr const char* kNoAccount =
    "The control API's account cannot be read from the settings store.";
inline constexpr const char* kAccountRefused =
    "The Quietway service did not accept the control API's account from the settings store.";

}  // namespace quietway::ctl
