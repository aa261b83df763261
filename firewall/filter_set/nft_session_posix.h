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
#include "firewall/filter_set/nft_listing_posix.h"

namespace quietway {

// An open engine on Linux: the libnftables context that owns the sublayer's table, and the
// record of every filter installed through it.
//
// Commands collect in a batch that the kernel applies as one transaction. Between `begin`
// and `commit` every operation joins the same batch; outside, each operation is a batch of
// its own. A batch that fails, or is aborted, leaves the kernel and this record as they were.
// A batch that adds anything is read back from the kernel (one listing of the table) before it
// counts: the table owned by this context, each chain holding the rules it should, and each new
// address in its set.
//
// Filter ids are the session's own, counting up from 1: a rule's kernel handle is known only
// once its batch is committed, and set elements have no handles at all. Two permits of the
// same address share one element, counted, so that removing one of them does not take the
// address away from the other.
class NftSession {
public:
    // Uses `context` when given (one an earlier session left empty), else a new one.
    static uint32_t open(std::unique_ptr<NftSession>& out,
                         std::unique_ptr<NftContext> context = nullptr);
    // The context, once the kernel holds nothing of this session (null while it does: freeing
    // it is then what removes the table). Freeing a context right after a deletion waits for
    // the kernel to finish that deletion, an RCU grace period of 5-20 ms here, so the owner
    // keeps an empty one for its next session instead.
    std::unique_ptr<NftContext> release_idle_context();

    uint32_t begin();
    uint32_t commit();
    uint32_t abort();

    uint32_t add_table(const SublayerRecord& sublayer);
    uint32_t delete_table(const SublayerKey& key);

    uint32_t add_rule(const FilterRecord& filter, uint64_t& id);
    void add_elements(std::span<const FilterRecord> filters, std::span<uint64_t> ids,
                      std::span<uint32_t> results);
    // Deletes rules and elements alike.
    void delete_filters(std::span<const uint64_t> ids, std::span<uint32_t> results);

    // For tests: commands run at the end of every batch, inside its transaction.
    void set_batch_tail(std::string commands) { batch_tail_ = std::move(commands); }

private:
    struct Rule {
        std::string chain;
        uint64_t handle = 0;  // 0 until its batch is committed
    };
    struct BatchRule {
        std::string chain;
        uint64_t id;  // 0: a rule of the table itself
    };
    struct Element {
        const char* set;
        uint32_t address;
    };
    using ElementKey = std::pair<std::string, uint32_t>;
    using AddressLists = std::map<std::string, std::vector<uint32_t>>;

    // What this session has installed, or will have once the open batch is committed.
    struct Record {
        std::string table;  // empty while there is no sublayer
        SublayerKey key;
        std::unordered_map<uint64_t, Rule> rules;
        std::unordered_map<uint64_t, Element> elements;
        std::map<ElementKey, uint32_t> element_users;
        std::map<std::string, size_t> chain_rules;  // every rule of each chain, ours or the table's
        uint64_t next_id = 1;
    };

    explicit NftSession(std::unique_ptr<NftContext> context) : context_(std::move(context)) {}
    uint32_t check_sublayer(const SublayerKey& key) const;
    bool set_in_use(const std::string& set) const;
    // Adds commands to the batch; each "add rule" line among them is the rule `rule_id`
    // (0: a rule of the table itself).
    void queue(const std::string& commands, uint64_t rule_id = 0);
    void queue_elements(const char* verb, const AddressLists& lists);
    // Outside a transaction the batch goes to the kernel at once.
    uint32_t finish();
    uint32_t confirm_batch();
    bool confirm_rules(const nft::TableListing& listing);
    bool confirm_elements(const nft::TableListing& listing) const;
    void clear_batch();

    std::unique_ptr<NftContext> context_;
    Record record_;
    Record committed_;
    bool in_transaction_ = false;
    bool stray_table_ = false;  // a table that failed its check and then could not be deleted
    std::string batch_;
    std::vector<BatchRule> batch_rules_;
    AddressLists batch_elements_;
    bool batch_adds_table_ = false;
    std::string batch_tail_;
};

}  // namespace quietway
