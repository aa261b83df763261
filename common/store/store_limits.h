#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The limits the store enforces on key paths, names and texts. Every writer checks these same
// functions, and so does the quietway_reg parser, so that what a parser accepts can be stored.
namespace quietway {

// Longest string value, in bytes, that a read returns and a write accepts.
inline constexpr size_t kMaxStringValue = 511;

// Deepest key, counted in names below HKEY_LOCAL_MACHINE; every operation that creates or
// walks keys keeps within it, so that whatever is created can also be exported and deleted.
inline constexpr size_t kMaxKeyDepth = 512;

// Whether the store can hold a key or a value of this name, in its own stored form (on Linux
// the escaped file name, where '/', '%' and control characters take three bytes).
bool key_name_fits(std::string_view name);
bool value_name_fits(std::string_view name);

// The limits above in words, for messages.
const char* name_limits_text();

// Longest whole key path, in bytes, that every operation can open (on Windows the registry's
// ANSI calls convert the path in a buffer of MAX_PATH characters; Linux opens one name at a
// time and has no such limit).
size_t max_key_path_length();

// Every name of the backslash-separated path is non-empty and fits, the path is at most
// kMaxKeyDepth names deep and max_key_path_length() long. "" (HKEY_LOCAL_MACHINE) fits.
bool key_path_fits(std::string_view path);
size_t key_path_depth(std::string_view path);

// Whether a text can be stored as a string value: at most kMaxStringValue bytes and no NUL
// byte (a read ends there). Refusals are logged with the value's name.
bool string_value_fits(const char* value_name, const std::string& text);

}  // namespace quietway
