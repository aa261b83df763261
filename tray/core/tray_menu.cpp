#include "tray/core/tray_menu.h"

#include <charconv>

#include "common/log/rotating_log.h"
#include "common/net/vendor_url.h"
#include "common/store/store.h"
#include "tray/core/command_worker.h"
#include "tray/core/tray_status.h"
#include "tray/core/url_policy.h"

namespace quietway {
namespace {

constexpr int64_t kSecondsPerDay = 86400;
constexpr const char* kLocalWebUi = "http://127.0.0.1:8988";

MenuEntry item(int id, const char* text, bool enabled = true) {
    MenuEntry entry;
    entry.id = id;
    entry.text = text;
    entry.enabled = enabled;
    return entry;
}

MenuEntry separator() {
    MenuEntry entry;
    entry.kind = MenuEntry::Kind::separator;
    return entry;
}

MenuEntry server_submenu() {
    uint32_t last_index = 0;
    uint32_t activated = 0;
    if (!read_reg_dword(kServersPath, "last_index", last_index)) {
        log("Can't get last index of server");
        last_index = 0;
    }
    if (!read_reg_dword(kServersPath, "activated", activated)) {
        log("Can't get activated server");
        activated = 0;
    }
    MenuEntry submenu;
    submenu.kind = MenuEntry::Kind::submenu;
    submenu.text = "Se&lect server";
    for (uint32_t i = 1; i <= last_index && i <= kMenuLastServer; ++i) {
        const std::string path = std::string(kServersPath) + "\\" + std::to_string(i);
        std::string name;
        if (!read_reg_string(path.c_str(), "name", name) || name.empty()) continue;
        uint32_t status = 0;
        read_reg_dword(path.c_str(), "status", status);
        MenuEntry entry = item(kMenuServerBase + static_cast<int>(i), name.c_str());
        if (i == activated) {
            entry.checked = true;
            entry.enabled = false;
        } else if (status != 1) {
            entry.enabled = false;
        }
        submenu.children.push_back(std::move(entry));
    }
    return submenu;
}

// The web host of the vendor's default addresses, without a port; "" when the build names
// no vendor.
std::string vendor_web_host() {
    std::string host = vendor_host();
    const size_t colon = host.rfind(':');
    if (colon != std::string::npos && host.find(']', colon) == std::string::npos &&
        colon + 1 < host.size() &&
        host.find_first_not_of("0123456789", colon + 1) == std::string::npos) {
        host.resize(colon);
    }
    return host;
}

}  // namespace

std::string account_expiry_text(const std::string& stored, int64_t now) {
    if (stored.empty() || stored.size() > 20) return {};
    int64_t expires = 0;
    const char* end = stored.data() + stored.size();
    const auto [ptr, error] = std::from_chars(stored.data(), end, expires);
    if (error != std::errc() || ptr != end) return {};
    if (now == -1 || expires == -1) return {};
    if (expires <= now) return {};
    // Unsigned: the distance between any two times, the stored one being the vendor's, fits.
    const uint64_t left = static_cast<uint64_t>(expires) - static_cast<uint64_t>(now);
    const uint64_t days = left / kSecondsPerDay + (left % kSecondsPerDay != 0 ? 1 : 0);
    if (days > 1) return "Espires in: " + std::to_string(days) + " days";
    return "Espires in: 1 day";
}

std::vector<MenuEntry> build_tray_menu(int status, int64_t now) {
    std::vector<MenuEntry> menu;
    if (status == kPrivacyStopped) {
        menu.push_back(item(kMenuStartVpn, "St&art VPN"));
    } else if (status == kPrivacyConnecting || status == kPrivacyConnected ||
               status == kReplySameUser) {
        menu.push_back(item(kMenuStopVpn, "St&op VPN"));
    }
    menu.push_back(separator());
    menu.push_back(server_submenu());
    menu.push_back(separator());
    menu.push_back(item(kMenuTestConnection, "&Test Connection"));
    menu.push_back(item(kMenuSettings, "&Settings"));
    menu.push_back(separator());

    std::string expires;
    if (get_setting_string("general", "account_expires", expires)) {
        const std::string line = account_expiry_text(expires, now);
        if (!line.empty()) {
            menu.push_back(item(0, line.c_str(), false));
            menu.push_back(separator());
        }
    }

    std::vector<std::string> notifications;
    if (!list_reg_subkeys(kNotificationsPath, notifications)) {
        log("Can't get list of notifications!");
    }
    menu.push_back(item(kMenuNotifications, "&Notifications", !notifications.empty()));

    if (status == kPrivacyStopped) menu.push_back(item(kMenuMailBox, "&Mail box", false));
    if (status == kPrivacyConnected) menu.push_back(item(kMenuMailBox, "&Mail box"));
    return menu;
}

std::string mail_box_url() {
    const std::string host = vendor_web_host();
    return host.empty() ? host : "http://" + host + ":8084/";
}

MenuAction menu_action(int id) {
    MenuAction action;
    auto open = [&action](std::string url) {
        action.kind = MenuAction::Kind::open_url;
        action.url = std::move(url);
    };
    auto send = [&action](int command) {
        action.kind = MenuAction::Kind::pipe_command;
        action.command = command;
    };
    if (id == kMenuStartVpn) {
        send(kPipeStart);
    } else if (id == kMenuStopVpn) {
        send(kPipeStop);
    } else if (id > kMenuServerBase && id <= kMenuServerBase + kMenuLastServer) {
        send(id);
    } else if (id == kMenuTestConnection) {
        open(std::string(kLocalWebUi) + "?testpage=true");
    } else if (id == kMenuSettings) {
        open(std::string(kLocalWebUi) + "/");
    } else if (id == kMenuNotifications) {
        open(std::string(kLocalWebUi) + "?notifypage=true");
    } else if (id == kMenuMailBox && !mail_box_url().empty()) {
        open(mail_box_url());
    }
    return action;
}

std::string underscore_mnemonics(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 4);
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '&') {
            if (i + 1 < text.size() && text[i + 1] == '&') {
                out += '&';
                ++i;
            } else {
                out += '_';
            }
        } else if (text[i] == '_') {
            out += "__";
        } else {
            out += text[i];
        }
    }
    return out;
}

void run_menu_entry(int id, CommandWorker& worker) {
    const MenuAction action = menu_action(id);
    switch (action.kind) {
        case MenuAction::Kind::pipe_command:
            worker.command(action.command);
            break;
        case MenuAction::Kind::open_url:
            open_url(action.url);
            break;
        case MenuAction::Kind::none:
            break;
    }
}

}  // namespace quietway
