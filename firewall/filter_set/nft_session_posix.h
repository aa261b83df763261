#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "firewall/filter_set/filter_record.h"
#include "firewall/filter_set/nft_context_posix.h"

namespace quietway {

// An open engine on Linux: the libnftables context that owns the sublayer's table, and the
// record of every filter installed through it.
//
// Filter ids: a rule's id is the handle the kernel gave it. A permitted address is an
// element of a set, and set elements have no handles, so each permit gets an id of its own
// from a range above 2^32 (rule handles count up from 1 per table and never get there). Two
// permits of the same address share one element, counted, so that removing one of them does
// not take the address away from the other.
class NftSession {
public:
    static uint32_t open(std::unique_ptr<NftSession>& out);

    uint32_t add_table(const SublayerRecord& sublayer);
    uint32_t delete_table(const SublayerKey& key);

    uint32_t add_rule(const FilterRecord& filter, uint64_t& id);
    void add_elements(std::span<const FilterRecord> filters, std::span<uint64_t> ids,
                      std::span<uint32_t> results);
    // Deletes rules and elements alike.
    void delete_filters(std::span<const uint64_t> ids, std::span<uint32_t> results);

private:
    static constexpr uint64_t kFirstElementId = uint64_t{1} << 32;

    struct Element {
        const char* set;
        uint32_t address;
    };
    using ElementKey = std::pair<std::string, uint32_t>;

    explicit NftSession(std::unique_ptr<NftContext> context) : context_(std::move(context)) {}
    uint32_t check_sublayer(const SublayerKey& key) const;
    using AddressLists = std::map<std::string, std::vector<uint32_t>>;
    uint32_t run_element_command(const char* verb, const AddressLists& lists);
    uint32_t confirm_elements(const AddressLists& added);
    uint32_t delete_rule(uint64_t id);

    std::unique_ptr<NftContext> context_;
    std::string table_;  // empty while there is no sublayer
    SublayerKey key_;
    std::unordered_map<uint64_t, std::string> rules_;  // handle -> chain
    std::unordered_map<uint64_t, Element> elements_;
    std::map<ElementKey, uint32_t> element_users_;
    uint64_t next_element_id_ = kFirstElementId;
};

}  // namespace quietway
