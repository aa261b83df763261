#pragma once

#include <ostream>
#include <string>

// Moving whole trees between the store and .reg files. Both return the tool's exit code.
namespace quietway::reg_tool {

// Parses the whole file first; when any line is bad, every bad line is reported with its
// number and nothing is applied. Keys are made with installation permissions. With
// `keep_existing`, a value already in the store is left as it is (an upgrade keeps the user's
// settings and adds only what a newer defaults file brings).
int import_reg_file(const std::string& file, std::ostream& err, bool keep_existing = false);

// Writes the key at `path` and everything below it; `file` "-" writes to `out`. Values the
// format cannot carry are reported and left out, and the result is then a failure.
int export_reg_file(const std::string& path, const std::string& file, std::ostream& out,
                    std::ostream& err);

}  // namespace quietway::reg_tool
