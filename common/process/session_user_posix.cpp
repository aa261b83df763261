#include "common/process/session_user_posix.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <systemd/sd-login.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>

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

}  // namespace

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
                                             const std::string& runtime_root) {
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
        if (session.type == "wayland" && is_socket(runtime_dir + "/wayland-0")) {
            env.push_back("WAYLAND_DISPLAY=wayland-0");
        }
    }
    if (!session.display.empty()) env.push_back("DISPLAY=" + session.display);
    if (const char* lang = std::getenv("LANG"); lang != nullptr && *lang != '\0') {
        env.push_back(std::string("LANG=") + lang);
    }
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

}  // namespace quietway::posix
