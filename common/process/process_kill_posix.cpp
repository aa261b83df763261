#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

#include "common/log/rotating_log.h"
#include "common/process/process_kill.h"
#include "common/process/process_kill_posix.h"

namespace quietway {
namespace {

// The kernel keeps a process name (comm) of at most 15 bytes.
constexpr size_t kCommLength = 15;
constexpr auto kGoneWait = std::chrono::seconds(2);

std::string read_small_file(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return {};
    char buffer[4096];
    std::string text;
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof(buffer))) > 0 && text.size() < 65536) {
        text.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return text;
}

std::string base_name(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The file the process runs; a replaced or removed file still names its old image.
std::string image_of(const std::string& proc_dir) {
    char target[4096];
    const ssize_t n = ::readlink((proc_dir + "/exe").c_str(), target, sizeof(target) - 1);
    if (n <= 0) return {};
    std::string path(target, static_cast<size_t>(n));
    const std::string deleted = " (deleted)";
    if (path.size() > deleted.size() &&
        path.compare(path.size() - deleted.size(), deleted.size(), deleted) == 0) {
        path.resize(path.size() - deleted.size());
    }
    return base_name(path);
}

std::vector<std::string> command_line_of(const std::string& proc_dir) {
    const std::string raw = read_small_file(proc_dir + "/cmdline");
    std::vector<std::string> args;
    size_t start = 0;
    while (start < raw.size()) {
        size_t end = raw.find('\0', start);
        if (end == std::string::npos) end = raw.size();
        args.push_back(raw.substr(start, end - start));
        start = end + 1;
    }
    return args;
}

// A program runs `name` when its executable file has that name, or when its process name is
// `name` and, for a name the kernel cuts short, one of the first two command-line words (a
// script runs as "interpreter script") confirms it.
bool runs_image(const std::string& proc_dir, const std::string& name) {
    const std::vector<std::string> args = command_line_of(proc_dir);
    if (args.empty()) return false;  // kernel threads and zombies
    if (image_of(proc_dir) == name) return true;
    std::string comm = read_small_file(proc_dir + "/comm");
    if (!comm.empty() && comm.back() == '\n') comm.pop_back();
    if (comm != name.substr(0, kCommLength)) return false;
    if (name.size() <= kCommLength) return true;
    for (size_t i = 0; i < args.size() && i < 2; ++i) {
        if (base_name(args[i]) == name) return true;
    }
    return false;
}

// Every process but this one that `wanted` accepts, given its /proc directory.
template <class Predicate>
std::vector<pid_t> processes_where(Predicate wanted) {
    std::vector<pid_t> found;
    std::unique_ptr<DIR, int (*)(DIR*)> proc(::opendir("/proc"), ::closedir);
    if (!proc) return found;
    const pid_t self = ::getpid();
    while (const dirent* entry = ::readdir(proc.get())) {
        char* end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (end == entry->d_name || *end != '\0' || pid <= 0 || pid == self) continue;
        if (wanted(std::string("/proc/") + entry->d_name)) found.push_back(static_cast<pid_t>(pid));
    }
    return found;
}

// Ended means gone, or a zombie waiting for its parent.
bool has_ended(pid_t pid) {
    const std::string stat = read_small_file("/proc/" + std::to_string(pid) + "/stat");
    const size_t paren = stat.rfind(')');
    return stat.empty() || (paren != std::string::npos && paren + 2 < stat.size() &&
                            (stat[paren + 2] == 'Z' || stat[paren + 2] == 'X'));
}

void wait_until_ended(const std::vector<pid_t>& pids) {
    const auto deadline = std::chrono::steady_clock::now() + kGoneWait;
    for (const pid_t pid : pids) {
        while (!has_ended(pid) && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
}

// Sends SIGKILL to each and waits briefly for them to be gone; false when one could not be
// signalled.
bool end_processes(const std::vector<pid_t>& pids, const char* what) {
    bool all_ended = true;
    std::vector<pid_t> signalled;
    for (const pid_t pid : pids) {
        if (::kill(pid, SIGKILL) == 0 || errno == ESRCH) {
            signalled.push_back(pid);
        } else {
            log("cannot end %s (pid %d), error %d", what, static_cast<int>(pid), errno);
            all_ended = false;
        }
    }
    wait_until_ended(signalled);
    return all_ended;
}

}  // namespace

bool kill_processes_by_name(const std::string& name) {
    if (!is_valid_image_name(name)) {
        log("kill_processes_by_name: invalid image name, nothing ended");
        return false;
    }
    const std::vector<pid_t> pids =
        processes_where([&](const std::string& dir) { return runs_image(dir, name); });
    const bool all_ended = end_processes(pids, name.c_str());
    return !pids.empty() && all_ended;
}

bool is_process_running(const std::string& name) {
    if (!is_valid_image_name(name)) return false;
    return !processes_where([&](const std::string& dir) { return runs_image(dir, name); }).empty();
}

size_t kill_processes_by_command_line(const CommandLinePredicate& matches) {
    const std::vector<pid_t> pids = processes_where([&](const std::string& dir) {
        const std::vector<std::string> args = command_line_of(dir);
        return !args.empty() && matches(args);
    });
    end_processes(pids, "process");
    return pids.size();
}

}  // namespace quietway
