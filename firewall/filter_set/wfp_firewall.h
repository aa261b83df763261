#pragma once

#include <cstdint>
#include <list>
#include <memory>
#include <vector>

#include "firewall/filter_set/filter_platform.h"
#include "firewall/filter_set/filter_record.h"
#include "firewall/filter_set/permit_entry.h"

namespace quietway {

// The kill switch: filters that block every outgoing IPv4 and IPv6 connection except those
// over a VPN adapter, from the VPN's local range, to the local network range and to or from
// the permitted addresses. Everything lives in a dynamic session, so nothing outlives the
// engine handle or the process. Not locked: one thread at a time.
//
// Operations that talk to the engine return 0, the platform's error code, or 22 when the
// engine is not open or there is nothing to do. AddRemove/OpenClose take true to add or open,
// false to remove or close.
class WfpFirewall {
public:
    // Uses the machine's packet filter.
    WfpFirewall();
    // Uses `platform`, which must outlive the object.
    explicit WfpFirewall(FilterPlatform& platform);
    // Stops the set: filters, sublayer and engine.
    ~WfpFirewall();
    WfpFirewall(const WfpFirewall&) = delete;
    WfpFirewall& operator=(const WfpFirewall&) = delete;

    // Reads `app_dir`; fails when it cannot be read.
    bool InitFirewall();
    // Appends a permit entry (direction 1: remote address, 0: local); null text is ignored.
    void AddPermitIP(const char* text, uint32_t direction);
    // Builds the whole set in one transaction: it appears whole or not at all. A failed start
    // closes the engine and drops the permit entries; `start_status()` tells why it failed.
    // A set that runs is left as it is (22).
    bool StartFirewall();
    bool StopFirewall();
    // Whether a VPN adapter is present now; the set and its adapter list are left alone.
    bool HasVpnAdapter();

    uint32_t OpenCloseEngine(bool add);
    uint32_t AddRemoveSubLayer(bool add);
    uint32_t AddRemoveBlockAllFilter(bool add);
    uint32_t AddRemoveTapFilter2(bool add);
    uint32_t AddRemovePermitRangeIPsFilter(bool add);
    uint32_t AddRemovePermitIPsFilter(bool add);

    // The first failing status of the last `StartFirewall` (0 after a successful one):
    // the platform's error code, or 22 when no VPN adapter was found.
    uint32_t start_status() const { return start_status_; }
    bool engine_open() const { return engine_ != nullptr; }
    const SublayerKey& sublayer_key() const { return record_.sublayer_key; }
    const std::list<PermitEntry>& permit_list() const { return record_.permits; }
    const std::vector<uint64_t>& adapter_luids() const { return adapter_luids_; }
    const std::vector<uint64_t>& adapter_filter_ids() const { return record_.adapter_filter_ids; }

private:
    // What the set has in the engine: the sublayer's key and the id of every filter (0: none),
    // the permit entries carrying their own.
    struct Record {
        SublayerKey sublayer_key;
        uint64_t block_filter_ids[2] = {0, 0};
        uint64_t range_filter_ids[2] = {0, 0};
        std::list<PermitEntry> permits;
        std::vector<uint64_t> adapter_filter_ids;
    };
    class Transaction;

    uint32_t start_set();
    uint32_t add_groups();
    FilterRecord base_filter(const wchar_t* name, FilterAction action) const;
    uint32_t add_one(const FilterRecord& filter, uint64_t& id);
    uint32_t remove_ids(uint64_t* ids, size_t count);

    std::unique_ptr<FilterPlatform> owned_platform_;
    FilterPlatform& platform_;

    EngineHandle engine_ = nullptr;
    FilterRecord block_filter_;
    FilterRecord range_filters_[2];
    std::vector<uint64_t> adapter_luids_;
    Record record_;
    uint32_t start_status_ = kFilterOk;
};

}  // namespace quietway
