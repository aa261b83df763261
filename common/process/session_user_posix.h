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
};

// The active session on `seat`, from sd-login. False when there is none.
bool find_active_session(const char* seat, ActiveSession& out);

// Identity of the user `uid` from the user database, with the supplementary groups.
bool lookup_user(uid_t uid, UserIdentity& out);

// The environment a program of that session expects: HOME, USER, LOGNAME, SHELL, PATH, the
// runtime directory, the session bus and the display, plus the caller's LANG. Entries whose
// sockets are missing below `runtime_root` (normally "/run/user") are left out.
std::vector<std::string> session_environment(const UserIdentity& user, const ActiveSession& session,
                                             const std::string& runtime_root);

// Starts `program` without arguments as `user` with exactly `env`, in the user's home
// directory, in a new session, detached from the caller (no zombie, no waiting).
bool start_as_user(const UserIdentity& user, const std::string& program,
                   const std::vector<std::string>& env);

}  // namespace quietway::posix
