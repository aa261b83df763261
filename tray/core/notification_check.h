#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Picking the next notification to show from the store, and deleting one shown and expired.
namespace quietway {

// The record the tray shows; stored texts longer than these are cut (at a character
// boundary when they are UTF-8).
inline constexpr size_t kInfoCapacity = 255;
inline constexpr size_t kTitleCapacity = 63;
inline constexpr size_t kUrlCapacity = 127;
inline constexpr size_t kBannerCapacity = 127;

struct CurrentNotification {
    int32_t id = 0;
    std::string info;
    std::string title;
    std::string url;
    std::string banner;
    int32_t state = 0;
};

enum class NotificationShow {
    none,    // nothing selected, or selected with nothing to show
    text,    // title and info: balloon and text card
    banner,  // banner image card
};

struct NotificationCheck {
    bool selected = false;  // a notification with state 0 and a non-zero id was found
    CurrentNotification notification;
    NotificationShow show = NotificationShow::none;
};

// Walks the notifications in the store's order at Unix time `now`: selects the first one
// with state 0, or deletes the first one with another state that expired before `now`, and
// stops there. Key names that are not decimal numbers are skipped.
NotificationCheck check_notifications(int64_t now);

// `text` cut to at most `capacity` bytes without splitting a UTF-8 sequence.
std::string cut_text(std::string_view text, size_t capacity);

// The tray's masked tick clock: the low 28 bits of the system's millisecond tick.
inline constexpr uint32_t kTickMask = 0x0FFFFFFF;
inline constexpr uint32_t kNotificationCheckPeriodMs = 30000;

class NotificationClock {
public:
    explicit NotificationClock(uint32_t masked_now) : last_(masked_now & kTickMask) {}
    // True (and the clock restarted) when more than the period passed since the last check.
    bool due(uint32_t masked_now);

private:
    uint32_t last_;
};

}  // namespace quietway
