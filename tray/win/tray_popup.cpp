#include <windows.h>
// windows.h first: the sound header needs its types.
#include <mmsystem.h>

#include <cmath>
#include <string>

#include "common/log/rotating_log.h"
#include "common/store/notification_store.h"
#include "tray/core/program_folder.h"
#include "tray/core/url_policy.h"
#include "tray/win/gdiplus_support.h"
#include "tray/win/tray_application.h"

namespace quietway {
namespace {

using Gdiplus::Color;

PopupScreen screen_edges() {
    RECT desktop{};
    GetWindowRect(GetDesktopWindow(), &desktop);
    PopupScreen screen{desktop.right, desktop.bottom, 0};
    if (HWND taskbar = FindWindowA("Shell_traywnd", nullptr)) {
        RECT bar{};
        if (GetWindowRect(taskbar, &bar)) screen.taskbar = bar.bottom - bar.top;
    }
    return screen;
}

void draw_close_box(Gdiplus::Graphics& graphics, const RECT& client) {
    const CloseBoxShape box = close_box_shape(client.right, client.top);
    Gdiplus::SolidBrush fill{Color(kCloseBoxFill)};
    Gdiplus::Pen pen(Color(kCloseBoxPen), 1.0f);
    graphics.FillRectangle(&fill, box.x, box.y, box.size, box.size);
    graphics.DrawRectangle(&pen, box.x, box.y, box.size, box.size);
    graphics.DrawLine(&pen, box.line1[0], box.line1[1], box.line1[2], box.line1[3]);
    graphics.DrawLine(&pen, box.line2[0], box.line2[1], box.line2[2], box.line2[3]);
}

}  // namespace

void TrayApplication::set_state(int32_t state) {
    const std::string id = std::to_string(current_.id);
    if (!set_notification_state(id, state)) log("Can't change notification state!");
    reports_.send(id, state);
}

void TrayApplication::hide_current_window() {
    if (current_window_ != nullptr) ShowWindow(current_window_, SW_HIDE);
}

void TrayApplication::show_notification() {
    hide_current_window();
    set_state(kNotificationShown);
    const std::string sound = beside_program(kNotificationSoundFile);
    PlaySoundA(sound.c_str(), nullptr, SND_FILENAME | SND_SYNC | SND_NODEFAULT);
    create_popup();
}

void TrayApplication::open_notification() {
    set_state(kNotificationOpened);
    if (!current_.url.empty()) open_url(current_.url);
}

void TrayApplication::create_popup() {
    const PopupScreen screen = screen_edges();
    PopupRect rect;
    if (!current_.banner.empty()) {
        PopupSize image;
        if (auto bitmap = load_banner(current_.banner)) {
            image = {static_cast<int>(bitmap->GetWidth()), static_cast<int>(bitmap->GetHeight())};
        } else if (HBITMAP plain = load_plain_bitmap(current_.banner)) {
            BITMAP info{};
            GetObjectA(plain, sizeof(info), &info);
            image = {info.bmWidth, info.bmHeight};
            DeleteObject(plain);
        }
        if (image.width == 0 || image.height == 0) log("Can't read image size!");
        rect = banner_popup_rect(screen, image);
    } else {
        HDC dc = GetDC(nullptr);
        {
            Gdiplus::Graphics graphics(dc);
            auto title_font = make_popup_font(dc, kTitlePoints);
            auto info_font = make_popup_font(dc, kInfoPoints);
            const std::wstring title = utf8_to_wide(current_.title);
            const std::wstring info = utf8_to_wide(current_.info);
            Gdiplus::RectF title_box;
            Gdiplus::RectF info_box;
            if (title_font) {
                graphics.MeasureString(title.c_str(), -1, title_font.get(), Gdiplus::PointF(0, 0),
                                       &title_box);
            }
            const int layout = info_layout_width(screen.right);
            if (info_font) {
                graphics.MeasureString(info.c_str(), -1, info_font.get(),
                                       Gdiplus::RectF(0, 0, static_cast<float>(layout), 0.0f),
                                       &info_box);
            }
            // Whole pixels rounded up: a box cut below the measured width wraps the text once
            // more than measured, and the last line falls off the card.
            rect = text_popup_rect(screen, static_cast<int>(std::ceil(title_box.Height)),
                                   static_cast<int>(std::ceil(info_box.Width)),
                                   static_cast<int>(std::ceil(info_box.Height)));
        }
        ReleaseDC(nullptr, dc);
    }
    RECT adjusted{rect.left, rect.top, rect.right, rect.bottom};
    AdjustWindowRect(&adjusted, WS_POPUP, FALSE);
    popup_rect_ = {adjusted.left, adjusted.top, adjusted.right, adjusted.bottom};

    HWND previous = current_window_;
    HWND popup = CreateWindowExA(WS_EX_TOOLWINDOW, kTrayWindowClass, "", WS_POPUP, adjusted.left,
                                 adjusted.top, adjusted.right - adjusted.left,
                                 adjusted.bottom - adjusted.top, nullptr, nullptr, instance_, this);
    if (popup == nullptr) {
        log("Can't create the notification window, error %u",
            static_cast<unsigned>(GetLastError()));
        return;
    }
    current_window_ = popup;
    ShowWindow(popup, SW_SHOWNORMAL);
    UpdateWindow(popup);
    SetWindowPos(popup, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    // Earlier windows stay (hidden): destroying one would end the program.
    KillTimer(previous, kTrayTimer);
    SetTimer(popup, kTrayTimer, kTrayTimerMs, nullptr);
}

void TrayApplication::paint_popup(HWND window) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    RECT client;
    GetClientRect(window, &client);
    const int width = client.right - client.left;
    const int height = client.bottom - client.top;
    {
        Gdiplus::Graphics graphics(dc);
        if (!current_.banner.empty()) {
            FillRect(dc, &client, GetSysColorBrush(COLOR_ACTIVEBORDER));
            if (auto bitmap = load_banner(current_.banner)) {
                graphics.DrawImage(bitmap.get(), 1, 1, width - 2, height - 2);
            } else if (HBITMAP plain = load_plain_bitmap(current_.banner)) {
                BITMAP info{};
                GetObjectA(plain, sizeof(info), &info);
                HDC source = CreateCompatibleDC(dc);
                HGDIOBJ old = SelectObject(source, plain);
                SetStretchBltMode(dc, HALFTONE);
                StretchBlt(dc, 1, 1, width - 2, height - 2, source, 0, 0, info.bmWidth,
                           info.bmHeight, SRCCOPY);
                SelectObject(source, old);
                DeleteDC(source);
                DeleteObject(plain);
            }
        } else {
            graphics.SetInterpolationMode(Gdiplus::InterpolationModeHighQualityBicubic);
            graphics.SetSmoothingMode(Gdiplus::SmoothingModeHighQuality);
            graphics.Clear(Color(kCardBackground));
            Gdiplus::Pen border(Color(kCardBorder), 1.0f);
            graphics.DrawRectangle(&border, client.left, client.top, width - 1, height - 1);
            auto title_font = make_popup_font(dc, kTitlePoints);
            auto info_font = make_popup_font(dc, kInfoPoints);
            const std::wstring title = utf8_to_wide(current_.title);
            const std::wstring info = utf8_to_wide(current_.info);
            Gdiplus::StringFormat format;
            format.SetAlignment(Gdiplus::StringAlignmentNear);
            float title_height = 0;
            if (title_font) {
                Gdiplus::RectF measured;
                graphics.MeasureString(title.c_str(), -1, title_font.get(), Gdiplus::PointF(0, 0),
                                       &measured);
                title_height = measured.Height;
                Gdiplus::SolidBrush brush{Color(kTitleColour)};
                graphics.DrawString(
                    title.c_str(), -1, title_font.get(),
                    Gdiplus::RectF(static_cast<float>(client.left + kTextInsetX),
                                   static_cast<float>(client.top + kTextInsetY),
                                   static_cast<float>(width - 2 * kTextInsetX), title_height),
                    &format, &brush);
            }
            if (info_font) {
                Gdiplus::SolidBrush brush{Color(kInfoColour)};
                graphics.DrawString(
                    info.c_str(), -1, info_font.get(),
                    Gdiplus::RectF(static_cast<float>(client.left + kTextInsetX),
                                   static_cast<float>(client.top + kTextInsetY) + title_height,
                                   static_cast<float>(width - 2 * kTextInsetX),
                                   static_cast<float>(height - 5)),
                    &format, &brush);
            }
        }
        draw_close_box(graphics, client);
    }
    EndPaint(window, &paint);
    ValidateRect(window, nullptr);
}

void TrayApplication::on_popup_click() {
    POINT cursor{};
    GetCursorPos(&cursor);
    if (!close_box_hit(popup_rect_, cursor.x, cursor.y)) open_notification();
    hide_current_window();
}

}  // namespace quietway
