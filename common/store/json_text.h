#pragma once

#include <json/value.h>

#include <string>
#include <string_view>

// Text bound for a JSON document. The JSON library's writer takes every byte of 0x80 and above
// as the start of a UTF-8 sequence and swallows the bytes after it, valid or not; stored text
// comes from outside (the vendor's documents, the API), so invalid bytes are replaced first.
namespace quietway {

// Valid UTF-8 unchanged; every byte that does not belong to a valid sequence becomes U+FFFD.
std::string valid_utf8(std::string_view bytes);

// A copy of `value` in which every string and member name is valid UTF-8.
Json::Value with_valid_utf8(const Json::Value& value);

// True when every string and member name in `value` is valid UTF-8 already, so that it can be
// written as it is, without the copy above.
bool all_valid_utf8(const Json::Value& value);

}  // namespace quietway
