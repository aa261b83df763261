// A notification document from the vendor stored as the updater's sync stores it; the first
// byte decides whether banner downloads succeed.
#include <string>
#include <string_view>

#include "fuzz/fuzz_environment.h"
#include "updater/sync/sync_documents.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace quietway;
    const std::string& dir = fuzz::environment();
    if (size == 0 || size - 1 > kNotificationsLimit) return -1;
    const bool banners_load = (data[0] & 1) != 0;
    const BannerDownload download = [&](const std::string& url, std::string& path) {
        fuzz::require(!url.empty(), "only a banner with an address is fetched");
        path = dir + "/banner.png";
        return banners_load;
    };
    apply_notifications(std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1),
                        download);
    return 0;
}
