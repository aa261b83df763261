#include "common/process/quoted_command_line.h"

namespace quietway {
namespace {

bool needs_quotes(const std::string& arg) {
    return arg.empty() || arg.find_first_of(" \t\n\v\"") != std::string::npos;
}

}  // namespace

void append_quoted_argument(const std::string& arg, std::string& out) {
    if (!needs_quotes(arg)) {
        out += arg;
        return;
    }
    out += '"';
    size_t backslashes = 0;
    for (const char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        // Backslashes count only in front of a quote: there each one is doubled, and the
        // quote itself is escaped.
        if (c == '"') {
            out.append(backslashes * 2 + 1, '\\');
        } else {
            out.append(backslashes, '\\');
        }
        backslashes = 0;
        out += c;
    }
    // The closing quote follows, so trailing backslashes are doubled too.
    out.append(backslashes * 2, '\\');
    out += '"';
}

bool build_command_line(const std::vector<std::string>& args, std::string& out) {
    out.clear();
    if (args.empty() || args[0].empty()) return false;
    // The program name is read up to the next quote, without escapes.
    if (args[0].find('"') != std::string::npos) return false;
    std::string line;
    line += '"';
    line += args[0];
    line += '"';
    for (size_t i = 1; i < args.size(); ++i) {
        line += ' ';
        append_quoted_argument(args[i], line);
    }
    if (line.find('\0') != std::string::npos || line.size() > kMaxCommandLine) return false;
    out = std::move(line);
    return true;
}

}  // namespace quietway
