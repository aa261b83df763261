#include "tray/core/url_policy.h"

#include <cctype>
#include <cstdlib>
#include <vector>

#include "common/log/rotating_log.h"
#include "common/process/run_program.h"

namespace quietway {
namespace {

bool starts_with_nocase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
    }
    return true;
}

}  // namespace

bool is_openable_url(std::string_view url) {
    if (url.empty() || url.size() > kMaxOpenableUrl) return false;
    size_t rest = 0;
    if (starts_with_nocase(url, "http://")) {
        rest = 7;
    } else if (starts_with_nocase(url, "https://")) {
        rest = 8;
    } else {
        return false;
    }
    // A host must follow.
    if (rest >= url.size() || url[rest] == '/' || url[rest] == '?' || url[rest] == '#' ||
        url[rest] == ':') {
        return false;
    }
    for (const char c : url) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte == 0x7F || c == '"' || c == '\\' || c == '<' || c == '>' ||
            c == '`' || c == '^' || c == '|' || c == '{' || c == '}') {
            return false;
        }
    }
    return true;
}

bool open_url(const std::string& url) {
    if (!is_openable_url(url)) {
        log("refused to open a web address that is not a plain http or https address");
        return false;
    }
    // A test's stand-in opener replaces the platform's own, with the same one argument.
    const char* stand_in = std::getenv(kUrlOpenerEnv);
    if (stand_in != nullptr && *stand_in != '\0') {
        RunOptions options;
        options.time_limit_ms = 10000;
        return run_program({stand_in, url}, options).started;
    }
    return launch_url_opener(url);
}

}  // namespace quietway
