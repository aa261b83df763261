#include <time.h>

#include <chrono>
#include <thread>

#include "updater/app/updater_seams.h"

namespace quietway {
namespace {

// Milliseconds of the monotonic clock, cut to 32 bits like the system tick count.
class SystemClock final : public TickClock {
public:
    uint32_t tick_count() override {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        const uint64_t ms = static_cast<uint64_t>(now.tv_sec) * 1000u +
                            static_cast<uint64_t>(now.tv_nsec) / 1000000u;
        return static_cast<uint32_t>(ms);
    }
    void sleep_ms(uint32_t ms) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
};

}  // namespace

std::unique_ptr<TickClock> make_system_clock() { return std::make_unique<SystemClock>(); }

}  // namespace quietway
