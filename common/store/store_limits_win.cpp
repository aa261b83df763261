#include <windows.h>

#include "common/store/store_limits.h"

namespace quietway {

namespace {

constexpr size_t kMaxKeyName = 255;
constexpr size_t kMaxValueName = 16383;

}  // namespace

bool key_name_fits(std::string_view name) { return !name.empty() && name.size() <= kMaxKeyName; }

bool value_name_fits(std::string_view name) { return name.size() <= kMaxValueName; }

size_t max_key_path_length() { return MAX_PATH; }

const char* name_limits_text() { return "key names up to 255 bytes, value names up to 16383"; }

}  // namespace quietway
