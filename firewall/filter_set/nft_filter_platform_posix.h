#pragma once

#include <memory>
#include <string>
#include <utility>

#include "firewall/filter_set/filter_platform.h"
#include "firewall/filter_set/nft_context_posix.h"

namespace quietway {

// The filter set on nftables through libnftables; an engine handle is an NftSession. A closed
// engine whose table is gone leaves its context here for the next one to use: freeing it at
// once would wait out the kernel's cleanup of that table.
class NftFilterPlatform : public FilterPlatform {
public:
    uint32_t find_vpn_adapters(std::vector<uint64_t>& luids) override;
    uint32_t open_engine(EngineHandle& engine) override;
    uint32_t close_engine(EngineHandle engine) override;
    uint32_t begin_transaction(EngineHandle engine) override;
    uint32_t commit_transaction(EngineHandle engine) override;
    uint32_t abort_transaction(EngineHandle engine) override;
    bool create_sublayer_key(SublayerKey& key) override;
    uint32_t add_sublayer(EngineHandle engine, const SublayerRecord& sublayer) override;
    uint32_t delete_sublayer(EngineHandle engine, const SublayerKey& key) override;
    uint32_t add_filter(EngineHandle engine, const FilterRecord& filter, uint64_t& id) override;
    uint32_t delete_filter(EngineHandle engine, uint64_t id) override;
    void add_filters(EngineHandle engine, std::span<const FilterRecord> filters,
                     std::span<uint64_t> ids, std::span<uint32_t> results) override;
    void delete_filters(EngineHandle engine, std::span<const uint64_t> ids,
                        std::span<uint32_t> results) override;

    // For tests: nft commands that every batch of the engines opened from now on ends with,
    // inside its transaction; one the kernel refuses makes every batch fail at the kernel.
    void set_batch_tail_for_testing(std::string commands) { batch_tail_ = std::move(commands); }

private:
    std::string batch_tail_;
    std::unique_ptr<NftContext> idle_context_;
};

}  // namespace quietway
