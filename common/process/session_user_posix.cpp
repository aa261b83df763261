#include "common/process/session_user_posix.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <systemd/sd-login.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "common/os/unique_fd.h"

namespace quietway::posix {
namespace {

struct FreeDeleter {
    void operator()(char* text) const { std::free(text); }
};
using CText = std::unique_ptr<char, FreeDeleter>;

std::string take(char* text) {
    CText owned(text);
    return owned ? std::string(owned.get()) : std::string();
}

bool is_socket(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
}

bool exists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

// Groups are looked up before fork: the lookup may read files and allocate.
std::vector<gid_t> supplementary_groups(const char* name, gid_t gid) {
    int count = 32;
    std::vector<gid_t> groups(static_cast<size_t>(count));
    while (::getgrouplist(name, gid, groups.data(), &count) < 0) {
        if (count <= static_cast<int>(groups.size()) || count > 65536) return {gid};
        groups.resize(static_cast<size_t>(count));
    }
    groups.resize(static_cast<size_t>(count));
    return groups;
}

constexpr const char* kDesktopVariables[] = {
    "DISPLAY",
    "XAUTHORITY",
    "WAYLAND_DISPLAY",
    "XDG_RUNTIME_DIR",
    "XDG_SESSION_TYPE",
    "XDG_CURRENT_DESKTOP",
    "XDG_SESSION_DESKTOP",
    "DESKTOP_SESSION",
    "XDG_DATA_DIRS",
    "XDG_CONFIG_DIRS",
    "DBUS_SESSION_BUS_ADDRESS",
    "LANG",
    "LANGUAGE",
    "LC_ALL",
    "LC_CTYPE",
    "LC_MESSAGES",
};
constexpr size_t kMaxEnvironmentValue = 4096;

bool is_variable_name(std::string_view name) {
    if (name.empty() || (name[0] >= '0' && name[0] <= '9')) return false;
    return std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
               c == '_';
    });
}

bool is_entry(std::string_view entry) {
    const size_t equals = entry.find('=');
    if (equals == std::string_view::npos || !is_variable_name(entry.substr(0, equals))) {
        return false;
    }
    const std::string_view value = entry.substr(equals + 1);
    return value.size() <= kMaxEnvironmentValue &&
           std::none_of(value.begin(), value.end(),
                        [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; });
}

std::string_view name_of(std::string_view entry) { return entry.substr(0, entry.find('=')); }

// Sets `entry` in `env`, replacing an entry of the same name.
void put(std::vector<std::string>& env, const std::string& entry) {
    for (std::string& existing : env) {
        if (name_of(existing) == name_of(entry)) {
            existing = entry;
            return;
        }
    }
    env.push_back(entry);
}

// The session's leader from logind's record of it ("LEADER=<pid>"); this systemd's sd-login has
// no call for it. 0 when unknown.
pid_t session_leader(const std::string& id) {
    const bool plain_id =
        !id.empty() && id.size() < 64 && std::all_of(id.begin(), id.end(), [](char c) {
            return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        });
    if (!plain_id) return 0;
    UniqueFd fd(::open(("/run/systemd/sessions/" + id).c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) return 0;
    char buffer[8192];
    ssize_t got = 0;
    do {
        got = ::read(fd.get(), buffer, sizeof(buffer) - 1);
    } while (got < 0 && errno == EINTR);
    if (got <= 0) return 0;
    const std::string text(buffer, static_cast<size_t>(got));
    const size_t at = text.find("\nLEADER=");  // the file begins with a comment line
    if (at == std::string::npos) return 0;
    long pid = 0;
    for (size_t i = at + 8; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        pid = pid * 10 + (text[i] - '0');
        if (pid > 4194304) return 0;  // above the kernel's pid limit
    }
    return static_cast<pid_t>(pid);
}

}  // namespace

bool read_environment_file(const std::string& path, size_t max_bytes,
                           std::vector<std::string>& out) {
    out.clear();
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) return false;
    std::string data;
    char chunk[4096];
    while (data.size() < max_bytes) {
        const ssize_t got =
            ::read(fd.get(), chunk, std::min(sizeof(chunk), max_bytes - data.size()));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return false;
        if (got == 0) break;
        data.append(chunk, static_cast<size_t>(got));
    }
    // Only entries ended by their NUL are whole; whatever follows the last one was cut off.
    size_t start = 0;
    for (size_t end = data.find('\0'); end != std::string::npos; end = data.find('\0', start)) {
        const std::string_view entry(data.data() + start, end - start);
        if (is_entry(entry)) out.emplace_back(entry);
        start = end + 1;
    }
    return true;
}

std::vector<std::string> desktop_variables(const std::vector<std::string>& entries) {
    std::vector<std::string> chosen;
    for (const std::string& entry : entries) {
        const std::string_view name = name_of(entry);
        const bool wanted = std::any_of(std::begin(kDesktopVariables), std::end(kDesktopVariables),
                                        [&](const char* known) { return name == known; });
        const bool seen = std::any_of(chosen.begin(), chosen.end(),
                                      [&](const std::string& c) { return name_of(c) == name; });
        if (wanted && !seen && is_entry(entry)) chosen.push_back(entry);
    }
    return chosen;
}

bool find_active_session(const char* seat, ActiveSession& out) {
    char* session = nullptr;
    uid_t uid = 0;
    if (sd_seat_get_active(seat, &session, &uid) < 0 || session == nullptr) return false;
    out.id = take(session);
    out.uid = uid;
    char* text = nullptr;
    out.session_class = sd_session_get_class(out.id.c_str(), &text) >= 0 ? take(text) : "";
    text = nullptr;
    out.type = sd_session_get_type(out.id.c_str(), &text) >= 0 ? take(text) : "";
    text = nullptr;
    out.display = sd_session_get_display(out.id.c_str(), &text) >= 0 ? take(text) : "";
    out.leader = session_leader(out.id);
    return true;
}

bool lookup_user(uid_t uid, UserIdentity& out) {
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 && size < 65536 ? static_cast<size_t>(size) : 16384);
    struct passwd entry {};
    struct passwd* found = nullptr;
    if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) {
        return false;
    }
    out.uid = entry.pw_uid;
    out.gid = entry.pw_gid;
    out.name = entry.pw_name;
    out.home = entry.pw_dir != nullptr && *entry.pw_dir != '\0' ? entry.pw_dir : "/";
    out.shell = entry.pw_shell != nullptr && *entry.pw_shell != '\0' ? entry.pw_shell : "/bin/sh";
    out.groups = supplementary_groups(entry.pw_name, entry.pw_gid);
    return true;
}

std::vector<std::string> session_environment(const UserIdentity& user, const ActiveSession& session,
                                             const std::string& runtime_root,
                                             const std::vector<std::string>& desktop) {
    std::vector<std::string> env = {
        "HOME=" + user.home,
        "USER=" + user.name,
        "LOGNAME=" + user.name,
        "SHELL=" + user.shell,
        "PATH=/usr/local/bin:/usr/bin:/bin",
    };
    if (!session.id.empty()) env.push_back("XDG_SESSION_ID=" + session.id);
    if (!session.type.empty()) env.push_back("XDG_SESSION_TYPE=" + session.type);
    const std::string runtime_dir = runtime_root + "/" + std::to_string(user.uid);
    if (exists(runtime_dir)) {
        env.push_back("XDG_RUNTIME_DIR=" + runtime_dir);
        if (is_socket(runtime_dir + "/bus")) {
            env.push_back("DBUS_SESSION_BUS_ADDRESS=unix:path=" + runtime_dir + "/bus");
        }
        if (desktop.empty() && session.type == "wayland" && is_socket(runtime_dir + "/wayland-0")) {
            env.push_back("WAYLAND_DISPLAY=wayland-0");
        }
    }
    if (!session.display.empty()) env.push_back("DISPLAY=" + session.display);
    if (const char* lang = std::getenv("LANG"); lang != nullptr && *lang != '\0') {
        env.push_back(std::string("LANG=") + lang);
    }
    for (const std::string& entry : desktop) put(env, entry);
    return env;
}

bool start_as_user(const UserIdentity& user, const std::string& program,
                   const std::vector<std::string>& env) {
    SpawnRequest request;
    request.path = program;
    request.args = {program};
    request.env = &env;
    request.user = &user;
    request.new_session = true;
    request.detached = true;
    request.working_dir = user.home;
    SpawnResult started = spawn_process(request);
    if (!started.ok && started.error == ENOENT && user.home != "/") {
        // A home directory that does not exist must not stop the program.
        request.working_dir = "/";
        started = spawn_process(request);
    }
    return started.ok;
}

bool find_console_user(ConsoleUser& out) {
    ActiveSession session;
    // The login screen also holds the seat; only a person's session counts.
    if (!find_active_session("seat0", session) || session.session_class != "user") return false;
    if (!lookup_user(session.uid, out.user)) return false;
    std::vector<std::string> leader_env;
    if (session.leader > 0) {
        read_environment_file("/proc/" + std::to_string(session.leader) + "/environ",
                              kMaxEnvironmentFile, leader_env);
    }
    out.env = session_environment(out.user, session, "/run/user", desktop_variables(leader_env));
    return true;
}

}  // namespace quietway::posix
