#include "tray/win/tray_application.h"

#include <cstring>
#include <ctime>
#include <vector>

#include "common/log/rotating_log.h"
#include "common/pipe/pipe_vocabulary.h"
#include "tray/core/tray_menu.h"
#include "tray/core/url_policy.h"
#include "tray/win/gdiplus_support.h"

namespace quietway {
namespace {

uint32_t masked_tick() { return GetTickCount() & kTickMask; }

void copy_text(char* field, size_t capacity, const std::string& text) {
    const size_t length = text.size() < capacity ? text.size() : capacity - 1;
    std::memcpy(field, text.data(), length);
    field[length] = '\0';
}

HMENU build_menu(const std::vector<MenuEntry>& entries, std::vector<HMENU>& submenus) {
    HMENU menu = CreatePopupMenu();
    if (menu == nullptr) return nullptr;
    for (const MenuEntry& entry : entries) {
        if (entry.kind == MenuEntry::Kind::separator) {
            AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
            continue;
        }
        UINT flags = MF_STRING | (entry.enabled ? MF_ENABLED : MF_GRAYED) |
                     (entry.checked ? MF_CHECKED : MF_UNCHECKED);
        UINT_PTR id = static_cast<UINT_PTR>(entry.id);
        if (entry.kind == MenuEntry::Kind::submenu) {
            HMENU submenu = build_menu(entry.children, submenus);
            if (submenu == nullptr) continue;
            submenus.push_back(submenu);
            flags |= MF_POPUP;
            id = reinterpret_cast<UINT_PTR>(submenu);
        }
        AppendMenuA(menu, flags, id, entry.text.c_str());
    }
    return menu;
}

}  // namespace

TrayApplication::TrayApplication(HINSTANCE instance)
    : instance_(instance), notification_clock_(masked_tick()) {
    taskbar_created_ = RegisterWindowMessageA("TaskbarCreated");
    log("create TrayApplication");
    worker_ = std::make_unique<CommandWorker>(
        [this](int command, int& status) { return pipe_.send_command(command, status); },
        [this](int command, int status) {
            const HWND window = main_window_.load();
            if (window != nullptr) {
                PostMessageA(window, kTrayReplyMessage, static_cast<WPARAM>(command),
                             static_cast<LPARAM>(status));
            }
        });
}

TrayApplication::~TrayApplication() {
    log("destroy TrayApplication");
    worker_.reset();
    for (HICON icon : icons_) {
        if (icon != nullptr) DestroyIcon(icon);
    }
}

bool TrayApplication::register_class() {
    WNDCLASSEXA window_class{};
    window_class.cbSize = sizeof(window_class);
    window_class.style = CS_HREDRAW | CS_VREDRAW;
    window_class.lpfnWndProc = &TrayApplication::window_proc;
    window_class.hInstance = instance_;
    window_class.hIcon = LoadIconA(instance_, MAKEINTRESOURCEA(kIconResourceStopped));
    window_class.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
    window_class.hbrBackground = static_cast<HBRUSH>(GetStockObject(NULL_BRUSH));
    window_class.lpszClassName = kTrayWindowClass;
    return RegisterClassExA(&window_class) != 0;
}

int TrayApplication::run() {
    Gdiplus::GdiplusStartupInput startup;
    Gdiplus::GdiplusStartup(&gdiplus_token_, &startup, nullptr);
    int code = 0;
    if (register_class()) {
        HWND window = CreateWindowExA(0, kTrayWindowClass, kTrayWindowTitle, WS_OVERLAPPEDWINDOW,
                                      CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                      nullptr, nullptr, instance_, this);
        if (window != nullptr) {
            main_window_ = window;
            current_window_ = window;
            ShowWindow(window, SW_HIDE);
            fill_icon_record();
            Shell_NotifyIconA(NIM_ADD, &icon_data_);
            SetTimer(window, kTrayTimer, kTrayTimerMs, nullptr);
            MSG message;
            while (GetMessageA(&message, nullptr, 0, 0) > 0) {
                TranslateMessage(&message);
                DispatchMessageA(&message);
            }
            code = static_cast<int>(message.wParam);
            main_window_ = nullptr;
        } else {
            log("Can't create the tray window, error %u", static_cast<unsigned>(GetLastError()));
        }
    }
    Gdiplus::GdiplusShutdown(gdiplus_token_);
    return code;
}

void TrayApplication::fill_icon_record() {
    icon_data_.cbSize = sizeof(icon_data_);
    icon_data_.hWnd = current_window_;
    icon_data_.uID = kTrayIconId;
    icon_data_.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_INFO;
    icon_data_.uCallbackMessage = kTrayIconMessage;
    icon_data_.hIcon = LoadIconA(instance_, MAKEINTRESOURCEA(kIconResourceStopped));
    copy_text(icon_data_.szTip, sizeof(icon_data_.szTip), kStartupTip);
    const TrayIcon all[] = {TrayIcon::started, TrayIcon::stopped, TrayIcon::connecting1,
                            TrayIcon::connecting2};
    bool loaded = true;
    for (TrayIcon icon : all) {
        HICON& handle = icons_[static_cast<int>(icon)];
        handle = static_cast<HICON>(LoadImageA(instance_, MAKEINTRESOURCEA(icon_resource(icon)),
                                               IMAGE_ICON, 0, 0, LR_DEFAULTSIZE));
        loaded = loaded && handle != nullptr;
    }
    if (loaded) {
        if (const auto view = monitor_.initial_view()) apply_status(*view);
    }
}

void TrayApplication::apply_status(const StatusView& view) {
    copy_text(icon_data_.szTip, sizeof(icon_data_.szTip), view.tooltip);
    HICON icon = icons_[static_cast<int>(view.icon)];
    if (icon != nullptr) icon_data_.hIcon = icon;
    // Before the icon is added (at start) the record only takes the values.
    if (main_window_.load() != nullptr) Shell_NotifyIconA(NIM_MODIFY, &icon_data_);
}

LRESULT CALLBACK TrayApplication::window_proc(HWND window, UINT message, WPARAM wparam,
                                              LPARAM lparam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lparam);
        SetWindowLongPtrA(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<TrayApplication*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (self == nullptr) return DefWindowProcA(window, message, wparam, lparam);
    return self->handle(window, message, wparam, lparam);
}

LRESULT TrayApplication::handle(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == taskbar_created_ && taskbar_created_ != 0) {
        Shell_NotifyIconA(NIM_ADD, &icon_data_);
        log("Recreate icon in Tray!");
        return 0;
    }
    switch (message) {
        case WM_DESTROY:
            KillTimer(current_window_, kTrayTimer);
            PostQuitMessage(0);
            return 0;
        case WM_CLOSE:
            KillTimer(current_window_, kTrayTimer);
            Shell_NotifyIconA(NIM_DELETE, &icon_data_);
            DestroyWindow(current_window_);
            PostQuitMessage(0);
            return 0;
        case WM_SYSCOMMAND:
            if ((wparam & 0xFFF0) == SC_CLOSE) {
                hide_current_window();
                return 1;
            }
            break;
        case WM_TIMER:
            if (wparam == kTrayTimer) {
                on_timer();
                return 1;
            }
            break;
        case WM_PAINT:
            paint_popup(window);
            return 0;
        case WM_ERASEBKGND: {
            RECT client;
            GetClientRect(window, &client);
            FillRect(reinterpret_cast<HDC>(wparam), &client, GetSysColorBrush(COLOR_ACTIVEBORDER));
            return 1;
        }
        case WM_LBUTTONDOWN:
            on_popup_click();
            return 0;
        case WM_COMMAND:
            on_menu_command(LOWORD(wparam));
            return 0;
        case kTrayIconMessage:
            on_icon_event(LOWORD(lparam));
            return 1;
        case kTrayReplyMessage:
            on_reply(static_cast<int>(wparam), static_cast<int>(lparam));
            return 0;
        default:
            break;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

void TrayApplication::on_icon_event(UINT event) {
    switch (event) {
        case WM_RBUTTONDOWN:
        case WM_CONTEXTMENU:
        case NIN_SELECT:
        case NIN_KEYSELECT:
            open_context_menu();
            break;
        case NIN_BALLOONSHOW:
            show_notification();
            break;
        case NIN_BALLOONUSERCLICK:
            open_notification();
            hide_current_window();
            break;
        default:
            break;  // left clicks, double clicks and balloon time-outs do nothing
    }
}

void TrayApplication::open_context_menu() {
    std::vector<HMENU> submenus;
    HMENU menu = build_menu(build_tray_menu(monitor_.status(), std::time(nullptr)), submenus);
    if (menu == nullptr) return;
    POINT cursor{};
    GetCursorPos(&cursor);
    SetForegroundWindow(current_window_);
    TrackPopupMenu(menu, TPM_BOTTOMALIGN | TPM_LEFTALIGN, cursor.x, cursor.y, 0, current_window_,
                   nullptr);
    PostMessageA(current_window_, WM_NULL, 0, 0);
    // Destroying the menu destroys its submenus with it.
    DestroyMenu(menu);
}

void TrayApplication::on_menu_command(int id) { run_menu_entry(id, *worker_); }

void TrayApplication::on_reply(int command, int status) {
    const auto view =
        command == kPipeStatus ? monitor_.on_poll_reply(status) : monitor_.on_command_reply(status);
    if (view) apply_status(*view);
}

void TrayApplication::on_timer() {
    poll_status();
    if (notification_pending_) {
        show_notification();
        notification_pending_ = false;
    }
}

void TrayApplication::poll_status() {
    if (!worker_->running()) {
        log("Can't start the status thread");
        ExitProcess(3);
    }
    worker_->poll();
    if (notification_clock_.due(masked_tick())) check_for_notification();
}

void TrayApplication::check_for_notification() {
    const NotificationCheck check = check_notifications(std::time(nullptr));
    if (!check.selected || check.notification.id == 0) return;
    current_ = check.notification;
    if (check.show == NotificationShow::text) {
        notification_pending_ = true;
        copy_text(icon_data_.szInfoTitle, sizeof(icon_data_.szInfoTitle), current_.title);
        copy_text(icon_data_.szInfo, sizeof(icon_data_.szInfo), current_.info);
        icon_data_.dwInfoFlags = NIIF_INFO;
        icon_data_.uTimeout = 10000;
    } else if (check.show == NotificationShow::banner) {
        notification_pending_ = true;
    }
}

}  // namespace quietway
