#include "filter_platform.h"
#include "nft_filter_platform_posix.h"

namespace quietway {

std::unique_ptr<FilterPlatform> make_system_filter_platform() {
    return std::make_unique<NftFilterPlatform>();
}

}  // namespace quietway
