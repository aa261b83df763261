#pragma once

#include <string>
#include <vector>

#include "common/process/spawn_posix.h"

// The Linux side of the user-session launcher: who sits at the seat, what their session's
// environment is, and starting a program as them.
namespace quietway::posix {

// What the login manager knows about a seat's active session.
struct ActiveSession {
    std::string id;
    uid_t uid = 0;
    std::string session_class;  // "user" for a person, "greeter" for the login screen
    std::string type;           // "x11", "wayland", "tty", ...
    std::string display;        // the X11 display, when the session has one
    pid_t leader = 0;           // the session's leader process, 0 when unknown
};

// The active session on `seat`, from sd-login. False when there is none.
bool find_active_session(const char* seat, ActiveSession& out);

// Identity of the user `uid` from the user database, with the supplementary groups.
bool lookup_user(uid_t uid, UserIdentity& out);

// Longest environment file read from a session's process.
inline constexpr size_t kMaxEnvironmentFile = 128 * 1024;

// The NAME=value entries of a NUL-separated environment file such as /proc/<pid>/environ. At
// most `max_bytes` are read; an entry cut off there, one without '=' or a proper name, and one
// with control characters in its value are skipped. False when the file cannot be read.
bool read_environment_file(const std::string& path, size_t max_bytes,
                           std::vector<std::string>& out);

// The entries of `entries` a desktop program needs to reach the user's display, session bus and
// language (DISPLAY, XAUTHORITY, WAYLAND_DISPLAY, XDG_*, DBUS_SESSION_BUS_ADDRESS, LANG, ...);
// the first of each name wins.
std::vector<std::string> desktop_variables(const std::vector<std::string>& entries);

// The environment a program of that session expects: HOME, USER, LOGNAME, SHELL, PATH, the
// runtime directory, the session bus and the display, plus the caller's LANG. Entries whose
// sockets are missing below `runtime_root` (normally "/run/user") are left out. The session's
// own `desktop` variables (from its leader) replace these where they name the same variable;
// only without them is a Wayland display guessed from the runtime directory.
std::vector<std::string> session_environment(const UserIdentity& user, const ActiveSession& session,
                                             const std::string& runtime_root,
                                             const std::vector<std::string>& desktop = {});

// The person at the console seat (seat0, never the login screen) and the environment of their
// session, with the display, authority and bus their session's leader got at login.
struct ConsoleUser {
    UserIdentity user;
    std::vector<std::string> env;
};

// False when nobody is logged in at the console.
bool find_console_user(ConsoleUser& out);

// Starts `program` without arguments as `user` with exactly `env`, in the user's home
// directory, in a new session, detached from the caller (no zombie, no waiting).
bool start_as_user(const UserIdentity& user, const std::string& program,
                   const std::vector<std::string>& env);

}  // namespace quietway::posix
