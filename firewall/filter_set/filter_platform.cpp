#include "firewall/filter_set/filter_platform.h"

namespace quietway {

void FilterPlatform::add_filters(EngineHandle engine, std::span<const FilterRecord> filters,
                                 std::span<uint64_t> ids, std::span<uint32_t> results) {
    for (size_t i = 0; i < filters.size() && i < ids.size() && i < results.size(); ++i) {
        ids[i] = 0;
        results[i] = add_filter(engine, filters[i], ids[i]);
    }
}

void FilterPlatform::delete_filters(EngineHandle engine, std::span<const uint64_t> ids,
                                    std::span<uint32_t> results) {
    for (size_t i = 0; i < ids.size() && i < results.size(); ++i) {
        results[i] = delete_filter(engine, ids[i]);
    }
}

}  // namespace quietway
