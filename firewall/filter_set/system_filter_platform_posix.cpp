#include "firewall/filter_set/filter_platform.h"
#include "firewall/filter_set/nft_filter_platform_posix.h"

namespace quietway {

std::unique_ptr<FilterPlatform> make_system_filter_platform() {
    return std::make_unique<NftFilterPlatform>();
}

}  // namespace quietway
