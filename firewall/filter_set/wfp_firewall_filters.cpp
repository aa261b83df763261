// The four filter groups of the kill switch.
#include <vector>

#include "common/log/rotating_log.h"
#include "firewall/filter_set/ipv4_text.h"
#include "firewall/filter_set/wfp_firewall.h"

namespace quietway {
namespace {

constexpr const wchar_t* kBlockFilterName = L"QuietwayFirewall";
constexpr const wchar_t* kAdapterFilterName = L"QuietwayFirewall";
constexpr const wchar_t* kRangeFilterName =
    L"Quietway filter to permit traffic from local vpn IPs range ...";
constexpr const wchar_t* kPermitFilterName = L"Quietway filter to permit traffic to ...";

constexpr uint8_t kBlockWeight = 0;
constexpr uint8_t kPermitWeight = 15;

// The VPN's own local addresses, and the local network the machine may still reach.
constexpr const char* kVpnRangeLow = "10.0.0.0";
constexpr const char* kVpnRangeHigh = "10.0.254.255";
constexpr const char* kLocalNetworkLow = "192.168.0.1";
constexpr const char* kLocalNetworkHigh = "192.168.254.255";

uint32_t parsed(const char* text) {
    Ipv4Address address;
    parse_ipv4(text, address);
    return address.value;
}

// A group of several adds reports its first failure, not the result of its last add: a
// failed IPv4 block followed by a good IPv6 one, or a failed permit before a good one, must
// never read as success.
void keep_first_failure(uint32_t& group, uint32_t status) {
    if (group == kFilterOk) group = status;
}

}  // namespace

FilterRecord WfpFirewall::base_filter(const wchar_t* name, FilterAction action) const {
    FilterRecord filter;
    filter.display_name = name;
    filter.sublayer = record_.sublayer_key;
    filter.action = action;
    return filter;
}

uint32_t WfpFirewall::add_one(const FilterRecord& filter, uint64_t& id) {
    id = 0;
    const uint32_t status = platform_.add_filter(engine_, filter, id);
    if (status != kFilterOk) id = 0;
    return status;
}

uint32_t WfpFirewall::remove_ids(uint64_t* ids, size_t count) {
    uint32_t group = kFilterNothingToDo;
    bool removed_any = false;
    for (size_t i = 0; i < count; ++i) {
        if (ids[i] == 0) continue;
        const uint32_t status = platform_.delete_filter(engine_, ids[i]);
        if (removed_any) {
            keep_first_failure(group, status);
        } else {
            group = status;
            removed_any = true;
        }
        ids[i] = 0;
    }
    return group;
}

uint32_t WfpFirewall::AddRemoveBlockAllFilter(bool add) {
    if (engine_ == nullptr) return kFilterNothingToDo;
    if (!add) return remove_ids(record_.block_filter_ids, 2);

    block_filter_ = base_filter(kBlockFilterName, FilterAction::block);
    block_filter_.weighted = true;
    block_filter_.weight = kBlockWeight;

    block_filter_.layer = FilterLayer::connect_v4;
    log("before adding filter");
    uint32_t group = add_one(block_filter_, record_.block_filter_ids[0]);
    log("after adding filter");

    block_filter_.layer = FilterLayer::connect_v6;
    log("before adding filter IPv6");
    keep_first_failure(group, add_one(block_filter_, record_.block_filter_ids[1]));
    log("after adding filter");
    return group;
}

uint32_t WfpFirewall::AddRemoveTapFilter2(bool add) {
    if (engine_ == nullptr) return kFilterNothingToDo;
    uint32_t group = kFilterNothingToDo;
    if (add) {
        if (!adapter_luids_.empty()) group = kFilterOk;
        for (uint64_t luid : adapter_luids_) {
            FilterRecord filter = base_filter(kAdapterFilterName, FilterAction::permit);
            filter.field = FilterField::local_interface;
            filter.match = FilterMatch::equal;
            filter.interface_luid = luid;
            uint64_t id = 0;

            filter.layer = FilterLayer::connect_v4;
            uint32_t status = add_one(filter, id);
            keep_first_failure(group, status);
            if (status == kFilterOk) {
                log("Filter (Permit all IPv4 traffic from TAP) added with ID=%I64d\r\n",
                    static_cast<long long>(id));
                record_.adapter_filter_ids.push_back(id);
            }

            filter.layer = FilterLayer::connect_v6;
            status = add_one(filter, id);
            keep_first_failure(group, status);
            if (status == kFilterOk) {
                log("Filter (Permit all IPv6 traffic from TAP) added with ID=%I64d\r\n",
                    static_cast<long long>(id));
                record_.adapter_filter_ids.push_back(id);
            }
        }
    } else {
        group = remove_ids(record_.adapter_filter_ids.data(), record_.adapter_filter_ids.size());
        record_.adapter_filter_ids.clear();
    }
    adapter_luids_.clear();
    return group;
}

uint32_t WfpFirewall::AddRemovePermitRangeIPsFilter(bool add) {
    if (engine_ == nullptr) return kFilterNothingToDo;
    if (!add) return remove_ids(record_.range_filter_ids, 2);

    FilterRecord& vpn_range = range_filters_[0];
    vpn_range = base_filter(kRangeFilterName, FilterAction::permit);
    vpn_range.field = FilterField::local_address;
    vpn_range.match = FilterMatch::range;
    vpn_range.address = parsed(kVpnRangeLow);
    vpn_range.address_high = parsed(kVpnRangeHigh);
    vpn_range.weighted = true;
    vpn_range.weight = kPermitWeight;

    FilterRecord& local_network = range_filters_[1];
    local_network = vpn_range;
    local_network.field = FilterField::remote_address;
    local_network.address = parsed(kLocalNetworkLow);
    local_network.address_high = parsed(kLocalNetworkHigh);

    uint32_t group = add_one(vpn_range, record_.range_filter_ids[0]);
    keep_first_failure(group, add_one(local_network, record_.range_filter_ids[1]));
    return group;
}

uint32_t WfpFirewall::AddRemovePermitIPsFilter(bool add) {
    if (engine_ == nullptr || record_.permits.empty()) return kFilterNothingToDo;
    if (add) {
        std::vector<FilterRecord> filters;
        std::vector<PermitEntry*> entries;
        for (PermitEntry& entry : record_.permits) {
            if (entry.address == 0 || entry.filter_id != 0) continue;
            FilterRecord filter = base_filter(kPermitFilterName, FilterAction::permit);
            filter.field = entry.direction == kPermitRemoteAddress ? FilterField::remote_address
                                                                   : FilterField::local_address;
            filter.match = FilterMatch::equal;
            filter.address = entry.address;
            filter.weighted = true;
            filter.weight = kPermitWeight;
            filters.push_back(filter);
            entries.push_back(&entry);
        }
        if (filters.empty()) return kFilterNothingToDo;

        std::vector<uint64_t> ids(filters.size(), 0);
        std::vector<uint32_t> results(filters.size(), kFilterNothingToDo);
        platform_.add_filters(engine_, filters, ids, results);
        uint32_t group = kFilterOk;
        for (size_t i = 0; i < entries.size(); ++i) {
            keep_first_failure(group, results[i]);
            entries[i]->filter_id = results[i] == kFilterOk ? ids[i] : 0;
        }
        return group;
    }

    std::vector<uint64_t> ids;
    for (const PermitEntry& entry : record_.permits) {
        if (entry.filter_id != 0) ids.push_back(entry.filter_id);
    }
    uint32_t group = kFilterNothingToDo;
    if (!ids.empty()) {
        std::vector<uint32_t> results(ids.size(), kFilterNothingToDo);
        platform_.delete_filters(engine_, ids, results);
        group = kFilterOk;
        for (uint32_t status : results) keep_first_failure(group, status);
    }
    for (PermitEntry& entry : record_.permits) entry.filter_id = 0;
    record_.permits.clear();
    return group;
}

}  // namespace quietway
