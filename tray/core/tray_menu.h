#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/pipe/pipe_vocabulary.h"

// The context menu as data, built anew from the status and the store each time it opens;
// each front end turns it into its platform's menu. Texts carry "&" mnemonics.
namespace quietway {

inline constexpr int kMenuTestConnection = 40005;
inline constexpr int kMenuSettings = 40006;
inline constexpr int kMenuStartVpn = 40007;
inline constexpr int kMenuStopVpn = 40008;
inline constexpr int kMenuMailBox = 40009;
inline constexpr int kMenuNotifications = 40010;
// Server entries: kMenuServerBase + the server number, numbers 1 to kMenuLastServer. An
// entry's id is the pipe command that selects its server.
inline constexpr int kMenuServerBase = kPipeServerBase;
inline constexpr int kMenuLastServer = kPipeLastServer;

struct MenuEntry {
    enum class Kind { item, separator, submenu };
    Kind kind = Kind::item;
    int id = 0;  // 0 for separators and the submenu
    std::string text;
    bool enabled = true;
    bool checked = false;
    std::vector<MenuEntry> children;  // the submenu's entries
};

// The whole menu for `status` at Unix time `now`, reading `last_index`, `activated`, the
// servers' `name` and `status`, `account_expires` and the notification list. Values that
// cannot be read are logged and left out.
std::vector<MenuEntry> build_tray_menu(int status, int64_t now);

// The account line's text for the stored `account_expires` at `now`; empty when no line is
// shown (empty, not a decimal number, -1, or zero or fewer days left).
std::string account_expiry_text(const std::string& stored, int64_t now);

// What choosing a menu entry does.
struct MenuAction {
    enum class Kind { none, pipe_command, open_url };
    Kind kind = Kind::none;
    int command = 0;  // pipe_command
    std::string url;  // open_url
};
MenuAction menu_action(int id);

class CommandWorker;
// Carries out menu entry `id`: its pipe command through `worker`, or its address opened.
void run_menu_entry(int id, CommandWorker& worker);

// The address of the vendor's mail-box page; "" when the build names no vendor.
std::string mail_box_url();

// "&" mnemonics in the "_" form (a literal "_" doubled, "&&" a literal "&").
std::string underscore_mnemonics(std::string_view text);

}  // namespace quietway
