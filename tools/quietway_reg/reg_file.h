#pragma once

#include <string>
#include <vector>

#include "common/store/store_admin.h"

// The .reg text format: a header line, [HKEY_LOCAL_MACHINE\...] sections, "name"="text",
// "name"=dword:0000001f, @ for the default value, [-KEY] and "name"=- for deletions.
namespace quietway::reg_file {

inline constexpr const char* kHeader5 = "Windows Registry Editor Version 5.00";
inline constexpr const char* kHeader4 = "REGEDIT4";
inline constexpr const char* kRootName = "HKEY_LOCAL_MACHINE";

struct Operation {
    enum class Kind { make_key, delete_key, set_value, delete_value };
    Kind kind = Kind::make_key;
    int line = 0;
    std::string path;  // below HKEY_LOCAL_MACHINE
    StoreValue value;  // set_value: the value; delete_value: its name
};

struct Problem {
    int line = 0;
    std::string message;
};

// Most problems that parse lists; the rest are only counted.
inline constexpr size_t kMaxListedProblems = 20;

// Parses the whole text and returns the number of bad lines. Each bad line yields no
// operation; the first kMaxListedProblems of them are listed, and when there is any, no
// operation at all is returned. A line passes only when the store can hold what it names.
size_t parse(const std::string& text, std::vector<Operation>& operations,
             std::vector<Problem>& problems);

// "PATH", "HKEY_LOCAL_MACHINE\PATH" or "HKLM\PATH" as a path below HKEY_LOCAL_MACHINE; false,
// with the reason in `error` when given, when it names another root, holds an empty key name
// or one the store cannot hold, or is deeper than the store allows.
bool key_path(const std::string& text, std::string& path, std::string* error = nullptr);

// One value as a .reg line without its line end; false when the format cannot carry it (a
// type other than string or number, a line break in a name or text).
bool format_value(const StoreValue& value, std::string& line);

// "[HKEY_LOCAL_MACHINE\PATH]".
std::string format_section(const std::string& path);

}  // namespace quietway::reg_file
