#pragma once

#include <json/json.h>

#include <string>

#include "tools/quietway_ctl/ctl_api.h"

namespace quietway::ctl {

// Where a command's result goes: words for people, or one JSON object for scripts.
class Output {
public:
    explicit Output(bool json) : json_(json) {}

    bool json() const { return json_; }
    // A line of words (nothing in JSON mode).
    void line(const std::string& text) const;
    // The command's result object (nothing in words mode).
    void object(const Json::Value& value) const;
    // The reason in words on standard error (and as {"error","message"} in JSON mode); the
    // exit status for a refusal.
    int refused(const std::string& sentence, int code = 0) const;
    int refused(const ApiFailure& failure) const { return refused(failure.sentence, failure.code); }

private:
    bool json_;
};

// Text from the engine made safe for a terminal: control characters become '?'.
std::string printable(const std::string& text);

}  // namespace quietway::ctl
