#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace quietway {

// Sends the notification state reports to the vendor's server on a thread of its own and in
// the order they were made, so that a slow server never holds up the desktop.
class ReportSender {
public:
    ReportSender();
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
