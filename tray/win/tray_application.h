#pragma once

#include <windows.h>
// windows.h first: the shell header needs its types.
#include <shellapi.h>

#include <atomic>
#include <memory>

#include "common/pipe/pipe_client.h"
#include "tray/core/command_worker.h"
#include "tray/core/notification_check.h"
#include "tray/core/popup_geometry.h"
#include "tray/core/report_sender.h"
#include "tray/core/tray_status.h"

namespace quietway {

inline constexpr const char* kTrayWindowClass = "QuietwayTrayWnd";
inline constexpr const char* kTrayWindowTitle = "Quietway Title";
inline constexpr const char* kTrayMutexName = "{724FF5FB-AFAE-473f-8375-29B4AA897C5A}";
inline constexpr UINT_PTR kTrayTimer = 101;
inline constexpr UINT kTrayTimerMs = 1000;
inline constexpr UINT kTrayIconId = 102;
inline constexpr UINT kTrayIconMessage = WM_USER + 1;
// A reply of the command worker, posted to the main window: command, status.
inline constexpr UINT kTrayReplyMessage = WM_APP + 1;

// The tray program: one object for the life of the process, owning the notification-area
// icon, the hidden window, the popups and the channel to the service.
class TrayApplication {
public:
    explicit TrayApplication(HINSTANCE instance);
    ~TrayApplication();
    TrayApplication(const TrayApplication&) = delete;
    TrayApplication& operator=(const TrayApplication&) = delete;

    // Steps 5 to 11 of the start: window, icon, timer, message loop. Returns the quit code.
    int run();

    static LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

private:
    LRESULT handle(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
    bool register_class();
    void fill_icon_record();
    void apply_status(const StatusView& view);
    void on_icon_event(UINT event);
    void open_context_menu();
    void on_menu_command(int id);
    void on_reply(int command, int status);
    void on_timer();
    void poll_status();
    void check_for_notification();

    // The popup (tray_popup.cpp).
    void show_notification();
    void open_notification();
    void create_popup();
    void paint_popup(HWND window);
    void on_popup_click();
    void hide_current_window();
    void set_state(int32_t state);

    HINSTANCE instance_;
    UINT taskbar_created_ = 0;
    NOTIFYICONDATAA icon_data_{};
    HICON icons_[4] = {};
    CurrentNotification current_;
    bool notification_pending_ = false;
    NotificationClock notification_clock_;
    StatusMonitor monitor_;
    PipeClient pipe_;
    std::unique_ptr<CommandWorker> worker_;
    std::atomic<HWND> main_window_{nullptr};
    HWND current_window_ = nullptr;
    PopupRect popup_rect_;
    ReportSender reports_;
    ULONG_PTR gdiplus_token_ = 0;
};

}  // namespace quietway
