#pragma once

#include <functional>
#include <string>

typedef struct _NotifyNotification NotifyNotification;
typedef struct ca_context ca_context;

namespace quietway {

// The desktop's own signals for a new notification: a notification bubble (the balloon) and
// the chime. Both fail quietly where the session has no notification daemon or no sound.
class DesktopAlerts {
public:
    // `on_open` runs when the user follows the bubble.
    explicit DesktopAlerts(std::function<void()> on_open);
    ~DesktopAlerts();
    DesktopAlerts(const DesktopAlerts&) = delete;
    DesktopAlerts& operator=(const DesktopAlerts&) = delete;

    void show_balloon(const std::string& title, const std::string& info);
    // Starts the sound file `path` and returns; false when it could not be started.
    bool play(const std::string& path);

private:
    static void on_action(NotifyNotification* bubble, char* action, void* self);
    void drop_bubble();

    std::function<void()> on_open_;
    NotifyNotification* bubble_ = nullptr;
    ca_context* sound_ = nullptr;
};

}  // namespace quietway
