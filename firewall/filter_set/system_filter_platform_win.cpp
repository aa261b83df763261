#include "firewall/filter_set/filter_platform.h"
#include "firewall/filter_set/wfp_filter_platform_win.h"

namespace quietway {

std::unique_ptr<FilterPlatform> make_system_filter_platform() {
    return std::make_unique<WfpFilterPlatform>();
}

}  // namespace quietway
