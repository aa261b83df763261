#pragma once

#include <json/value.h>

#include <cstdint>
#include <string>

// Helpers shared by the server and notification records.
namespace quietway::record_text {

// A member of a parameters object as text (a number in decimal, a boolean as "true" or
// "false", missing or null as ""); false when the member cannot be converted to text.
bool member_text(const Json::Value& params, const char* name, std::string& out);

// Decimal text as a signed 32-bit number: leading digits count, anything unreadable or out of
// range is 0.
int32_t decimal_number(const std::string& text);

// "<parent>\\<number>" in a buffer of `capacity` bytes. The number must be one key name (not
// empty, no backslash, no control character); what does not fit is refused with a log line
// rather than cut.
bool child_key_path(const char* parent, const std::string& number, size_t capacity,
                    std::string& path);

}  // namespace quietway::record_text
