#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <set>
#include <string_view>

#include "common/log/rotating_log.h"
#include "common/os/file_io_posix.h"
#include "common/os/unique_fd.h"
#include "common/process/run_program_posix.h"
#include "service/privacy/host_key_cache.h"

extern char** environ;

namespace quietway {
namespace {

namespace fs = std::filesystem;

constexpr const char* kCacheVariable = "PUTTYSSHHOSTKEYS";
// plink's cache holds one short line per host; anything larger is not copied around.
constexpr size_t kMaxCache = 1024 * 1024;

// Merging into the real cache takes turns; plink itself runs outside this lock.
std::mutex merge_mutex;

std::string variable(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// Where plink keeps this user's host keys, found the way plink finds it: its own variables
// first, then the first of these directories that exists, else ~/.putty. The account's own
// home counts even when HOME points elsewhere.
std::string cache_path() {
    if (const std::string file = variable(kCacheVariable); !file.empty()) return file;
    if (const std::string dir = variable("PUTTYDIR"); !dir.empty()) return dir + "/sshhostkeys";
    std::string account_home;
    if (const passwd* user = ::getpwuid(::getuid()); user != nullptr && user->pw_dir != nullptr) {
        account_home = user->pw_dir;
    }
    std::string home = variable("HOME");
    if (home.empty()) home = account_home;
    std::string xdg = variable("XDG_CONFIG_HOME");
    if (xdg.empty()) xdg = home + "/.config";
    const std::string candidates[] = {xdg + "/putty", home + "/.putty", account_home + "/.putty",
                                      "/.putty"};
    for (const std::string& dir : candidates) {
        std::error_code error;
        if (fs::is_directory(dir, error)) return dir + "/sshhostkeys";
    }
    return home + "/.putty/sshhostkeys";
}

// False only when the file is there but cannot be read whole; a missing one reads as empty.
bool read_cache(const std::string& path, std::string& out) {
    out.clear();
    UniqueFd file(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!file.valid()) return errno == ENOENT;
    return read_bounded(file.get(), kMaxCache, out);
}

// The text up to the first blank names the key ("type@port:host").
std::string_view key_of(std::string_view line) { return line.substr(0, line.find(' ')); }

template <typename Visit>
void for_each_line(std::string_view text, Visit visit) {
    while (!text.empty()) {
        const size_t end = text.find('\n');
        if (end != 0) visit(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    }
}

// Puts the lines of `copy` that are not in `before` into the real cache, each replacing an
// entry of the same key there.
bool merge_new_entries(const std::string& real, const std::string& before,
                       const std::string& copy) {
    std::set<std::string_view> old_lines;
    for_each_line(before, [&](std::string_view line) { old_lines.insert(line); });
    std::string added;
    std::set<std::string_view> added_keys;
    for_each_line(copy, [&](std::string_view line) {
        if (old_lines.count(line) != 0) return;
        added.append(line).append("\n");
        added_keys.insert(key_of(line));
    });
    if (added.empty()) return true;
    std::lock_guard<std::mutex> lock(merge_mutex);
    std::string current;
    if (!read_cache(real, current)) return false;
    std::string merged = added;
    for_each_line(current, [&](std::string_view line) {
        if (added_keys.count(key_of(line)) == 0) merged.append(line).append("\n");
    });
    std::error_code error;
    const fs::path dir = fs::path(real).parent_path();
    if (!dir.empty() && !fs::is_directory(dir, error)) {
        fs::create_directories(dir, error);
        ::chmod(dir.c_str(), 0700);
    }
    AtomicWrite how;
    how.mode = 0600;
    if (write_file_atomically(AT_FDCWD, real, merged, how) == AtomicWriteResult::placed) {
        return true;
    }
    log("host key cache %s not written, error %d", real.c_str(), errno);
    return false;
}

RunResult run_with_cache(const std::vector<std::string>& args, const RunOptions& options,
                         const std::string& cache) {
    std::vector<std::string> env;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        if (!std::string_view(*entry).starts_with(std::string(kCacheVariable) + "=")) {
            env.emplace_back(*entry);
        }
    }
    env.push_back(std::string(kCacheVariable) + "=" + cache);
    posix::SpawnRequest request;
    if (args.empty() || !posix::find_executable(args[0], request.path)) return RunResult{};
    request.args = args;
    request.env = &env;
    return posix::run_spawn_request(request, options);
}

}  // namespace

bool run_storing_plink(const std::vector<std::string>& args, const RunOptions& options,
                       const std::string& scratch_dir) {
    const std::string real = cache_path();
    const std::string copy = scratch_dir + "/sshhostkeys.private";
    std::string before;
    AtomicWrite how;
    how.mode = 0600;
    if (!read_cache(real, before) ||
        write_file_atomically(AT_FDCWD, copy, before, how) != AtomicWriteResult::placed) {
        // Without a private copy plink writes the real cache itself, one run at a time.
        log("host key cache %s not copied, error %d", real.c_str(), errno);
        std::lock_guard<std::mutex> lock(merge_mutex);
        const RunResult result = run_program(args, options);
        return result.started && !result.timed_out;
    }
    const RunResult result = run_with_cache(args, options, copy);
    std::string after;
    const bool merged = read_cache(copy, after) && merge_new_entries(real, before, after);
    ::unlink(copy.c_str());
    ::unlink((copy + ".tmp").c_str());  // left by a plink that was ended mid-write
    return merged && result.started && !result.timed_out;
}

}  // namespace quietway
