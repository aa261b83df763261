#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace quietway {

// Sends the notification state reports to the vendor's server on a thread of its own and in
// the order they were made, so that a slow server never holds up the desktop and "opened"
// never overtakes "shown".
class ReportSender {
public:
    using Deliver = std::function<void(const std::string& id, int32_t state)>;

    // Reports through report_notification_state.
    ReportSender();
    // Reports through `deliver`, which is called on the sender's thread.
    explicit ReportSender(Deliver deliver);
    // Reports not yet sent are dropped; one being sent is left to finish on its own.
    ~ReportSender();
    ReportSender(const ReportSender&) = delete;
    ReportSender& operator=(const ReportSender&) = delete;

    void send(const std::string& id, int32_t state);

    struct State;

private:
    std::shared_ptr<State> state_;
};

}  // namespace quietway
