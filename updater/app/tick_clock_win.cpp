#include <windows.h>

#include "updater/app/updater_seams.h"

namespace quietway {
namespace {

class SystemClock final : public TickClock {
public:
    uint32_t tick_count() override { return GetTickCount(); }
    void sleep_ms(uint32_t ms) override { Sleep(ms); }
};

}  // namespace

std::unique_ptr<TickClock> make_system_clock() { return std::make_unique<SystemClock>(); }

}  // namespace quietway
