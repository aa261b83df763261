#include "filter_platform.h"
#include "wfp_filter_platform_win.h"

namespace quietway {

std::unique_ptr<FilterPlatform> make_system_filter_platform() {
    return std::make_unique<WfpFilterPlatform>();
}

}  // namespace quietway
