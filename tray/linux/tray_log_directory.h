#pragma once

#include <string>

// Where the tray, which runs as the desktop's user, keeps its log: the user's state
// directory, never the services' /var/log/quietway.
namespace quietway {

// $XDG_STATE_HOME/quietway when XDG_STATE_HOME is an absolute path, else
// $HOME/.local/state/quietway (HOME from the environment, else the user's account entry).
// Creates what is missing (mode 0700); empty when the directory cannot be had.
std::string tray_log_directory();

}  // namespace quietway
