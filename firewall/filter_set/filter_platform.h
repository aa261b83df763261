#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "firewall/filter_set/filter_record.h"

namespace quietway {

// The one seam between the filter-set logic and the machine's packet filter. Every status
// is 0 on success or the platform's error code.
class FilterPlatform {
public:
    virtual ~FilterPlatform() = default;

    // Interface LUIDs of the VPN adapters present now. A status other than 0 only when the
    // adapter list could not be examined at all for lack of memory; a failed query leaves
    // `luids` empty and answers 0.
    virtual uint32_t find_vpn_adapters(std::vector<uint64_t>& luids) = 0;

    // A dynamic session: everything added through it vanishes when it is closed or when the
    // process ends.
    virtual uint32_t open_engine(EngineHandle& engine) = 0;
    virtual uint32_t close_engine(EngineHandle engine) = 0;

    // Between begin and commit, additions and deletions take effect together at the commit,
    // or not at all: after an abort, or a commit that failed, nothing of them is left.
    virtual uint32_t begin_transaction(EngineHandle engine) = 0;
    virtual uint32_t commit_transaction(EngineHandle engine) = 0;
    virtual uint32_t abort_transaction(EngineHandle engine) = 0;

    virtual bool create_sublayer_key(SublayerKey& key) = 0;
    virtual uint32_t add_sublayer(EngineHandle engine, const SublayerRecord& sublayer) = 0;
    virtual uint32_t delete_sublayer(EngineHandle engine, const SublayerKey& key) = 0;

    virtual uint32_t add_filter(EngineHandle engine, const FilterRecord& filter, uint64_t& id) = 0;
    virtual uint32_t delete_filter(EngineHandle engine, uint64_t id) = 0;

    // Many filters at once, each with its own id and status, in order. The defaults call the
    // single forms; a platform may install them in one step.
    virtual void add_filters(EngineHandle engine, std::span<const FilterRecord> filters,
                             std::span<uint64_t> ids, std::span<uint32_t> results);
    virtual void delete_filters(EngineHandle engine, std::span<const uint64_t> ids,
                                std::span<uint32_t> results);
};

// The machine's own packet filter: WFP on Windows, nftables on Linux.
std::unique_ptr<FilterPlatform> make_system_filter_platform();

}  // namespace quietway
