#pragma once

#include <memory>

#include "firewall/filter_set/filter_platform.h"
#include "firewall/filter_set/wfp_api_win.h"

namespace quietway {

// The filter set on the Windows Filtering Platform: each filter becomes one FWPM_FILTER0 in
// the sublayer, in a dynamic session.
class WfpFilterPlatform : public FilterPlatform {
public:
    // The system's calls.
    WfpFilterPlatform();
    // `api` must outlive the object.
    explicit WfpFilterPlatform(WfpApi& api);

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

private:
    std::unique_ptr<WfpApi> owned_api_;
    WfpApi& api_;
};

}  // namespace quietway
