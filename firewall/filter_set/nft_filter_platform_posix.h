#pragma once

#include "firewall/filter_set/filter_platform.h"

namespace quietway {

// The filter set on nftables through libnftables; an engine handle is an NftSession.
class NftFilterPlatform : public FilterPlatform {
public:
    bool find_vpn_adapters(std::vector<uint64_t>& luids) override;
    uint32_t open_engine(EngineHandle& engine) override;
    uint32_t close_engine(EngineHandle engine) override;
    bool create_sublayer_key(SublayerKey& key) override;
    uint32_t add_sublayer(EngineHandle engine, const SublayerRecord& sublayer) override;
    uint32_t delete_sublayer(EngineHandle engine, const SublayerKey& key) override;
    uint32_t add_filter(EngineHandle engine, const FilterRecord& filter, uint64_t& id) override;
    uint32_t delete_filter(EngineHandle engine, uint64_t id) override;
    void add_filters(EngineHandle engine, std::span<const FilterRecord> filters,
                     std::span<uint64_t> ids, std::span<uint32_t> results) override;
    void delete_filters(EngineHandle engine, std::span<const uint64_t> ids,
                        std::span<uint32_t> results) override;
};

}  // namespace quietway
