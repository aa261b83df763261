#include "firewall/filter_set/nft_session_posix.h"

#include <net/if.h>

#include <algorithm>
#include <cerrno>
#include <string_view>

#include "common/log/rotating_log.h"
#include "firewall/filter_set/nft_ruleset_posix.h"

namespace quietway {
namespace {

// The chain of an "add rule inet TABLE CHAIN ..." or "insert rule ..." line; "" for any other.
std::string rule_chain(std::string_view line) {
    for (std::string_view verb : {"add rule ", "insert rule "}) {
        if (!line.starts_with(verb)) continue;
        line.remove_prefix(verb.size());
        for (int word = 0; word < 2; ++word) line.remove_prefix(line.find(' ') + 1);
        return std::string(line.substr(0, line.find(' ')));
    }
    return {};
}

}  // namespace

uint32_t NftSession::open(std::unique_ptr<NftSession>& out, std::unique_ptr<NftContext> context) {
    if (context == nullptr) {
        uint32_t error = 0;
        context = NftContext::create(error);
        if (context == nullptr) return error;
    }
    out.reset(new NftSession(std::move(context)));
    return 0;
}

std::unique_ptr<NftContext> NftSession::release_idle_context() {
    if (!committed_.table.empty() || stray_table_) return nullptr;
    return std::move(context_);
}

uint32_t NftSession::begin() {
    if (in_transaction_) return EBUSY;
    in_transaction_ = true;
    return 0;
}

uint32_t NftSession::commit() {
    if (!in_transaction_) return EINVAL;
    in_transaction_ = false;
    if (batch_.empty()) {
        clear_batch();
        return 0;
    }
    uint32_t status = context_->run(batch_ + batch_tail_);
    const bool adds = batch_adds_table_ || !batch_rules_.empty() || !batch_elements_.empty();
    if (status == 0 && adds && !record_.table.empty()) {
        status = confirm_batch();
        // A table that is not what it should be goes again as a whole; what else a batch
        // that cannot be confirmed left in an existing table goes with that table.
        if (status != 0 && batch_adds_table_ &&
            context_->run("delete table inet " + record_.table) != 0) {
            stray_table_ = true;
        }
    }
    if (status == 0) {
        committed_ = record_;
    } else {
        record_ = committed_;
    }
    clear_batch();
    return status;
}

uint32_t NftSession::abort() {
    if (!in_transaction_) return EINVAL;
    in_transaction_ = false;
    record_ = committed_;
    clear_batch();
    return 0;
}

void NftSession::clear_batch() {
    batch_.clear();
    batch_rules_.clear();
    batch_elements_.clear();
    batch_adds_table_ = false;
}

uint32_t NftSession::finish() {
    if (in_transaction_) return 0;
    in_transaction_ = true;
    return commit();
}

void NftSession::queue(const std::string& commands, uint64_t rule_id) {
    size_t start = 0;
    while (start < commands.size()) {
        const size_t end = std::min(commands.find('\n', start), commands.size());
        std::string chain = rule_chain(std::string_view(commands).substr(start, end - start));
        if (!chain.empty()) {
            ++record_.chain_rules[chain];
            batch_rules_.push_back(BatchRule{std::move(chain), rule_id});
        }
        start = end + 1;
    }
    batch_ += commands;
    if (!commands.empty() && commands.back() != '\n') batch_ += '\n';
}

void NftSession::queue_elements(const char* verb, const AddressLists& lists) {
    for (const auto& [set, addresses] : lists) {
        if (addresses.empty()) continue;
        std::string command = std::string(verb) + " element inet " + record_.table + " " + set;
        command += " { ";
        for (size_t i = 0; i < addresses.size(); ++i) {
            if (i > 0) command += ", ";
            command += nft::dotted(addresses[i]);
        }
        queue(command + " }\n");
    }
}

uint32_t NftSession::confirm_batch() {
    std::string text;
    const uint32_t status = context_->run("list table inet " + record_.table, &text);
    if (status != 0) return status;
    const nft::TableListing listing = nft::read_table_listing(text);
    // Without the owner flag the table would outlive this process.
    if (batch_adds_table_ && !listing.owned) {
        log("nft table %s is not owned by this process", record_.table.c_str());
        return EIO;
    }
    return confirm_rules(listing) && confirm_elements(listing) ? 0 : EIO;
}

bool NftSession::confirm_rules(const nft::TableListing& listing) {
    std::map<std::string, size_t> to_come;  // the batch's rules in each chain not yet matched
    for (const BatchRule& rule : batch_rules_) ++to_come[rule.chain];
    for (const auto& [chain, expected] : record_.chain_rules) {
        const auto listed = listing.rules.find(chain);
        const size_t held = listed != listing.rules.end() ? listed->second.size() : 0;
        if (held != expected) {
            log("nft chain %s holds %d rules instead of %d", chain.c_str(), static_cast<int>(held),
                static_cast<int>(expected));
            return false;
        }
    }
    // The filters' rules are appended ("add rule"), so the batch's are the last ones of their
    // chains, in order; every such chain is listed, as its count above includes them.
    for (const BatchRule& rule : batch_rules_) {
        const std::vector<uint64_t>& handles = listing.rules.find(rule.chain)->second;
        const uint64_t handle = handles[handles.size() - to_come[rule.chain]--];
        if (rule.id == 0) continue;
        if (handle == 0) {
            log("nft rule without a handle after adding it");
            return false;
        }
        record_.rules[rule.id].handle = handle;
    }
    return true;
}

bool NftSession::confirm_elements(const nft::TableListing& listing) const {
    for (const auto& [set, addresses] : batch_elements_) {
        const auto listed = listing.elements.find(set);
        std::vector<uint32_t> present;
        if (listed != listing.elements.end()) present = listed->second;
        std::sort(present.begin(), present.end());
        for (uint32_t address : addresses) {
            if (!std::binary_search(present.begin(), present.end(), address)) {
                log("nft set %s lacks %s after adding it", set.c_str(),
                    nft::dotted(address).c_str());
                return false;
            }
        }
    }
    return true;
}

uint32_t NftSession::check_sublayer(const SublayerKey& key) const {
    return !record_.table.empty() && key == record_.key ? 0 : ENOENT;
}

bool NftSession::set_in_use(const std::string& set) const {
    const auto next = record_.element_users.lower_bound(ElementKey{set, 0});
    return next != record_.element_users.end() && next->first.first == set;
}

uint32_t NftSession::add_table(const SublayerRecord& sublayer) {
    // One sublayer per session keeps the filter ids unique.
    if (!record_.table.empty()) return EEXIST;
    record_.table = nft::table_name(sublayer.key);
    record_.key = sublayer.key;
    queue(nft::table_commands(record_.table, sublayer.name));
    batch_adds_table_ = true;
    return finish();
}

uint32_t NftSession::delete_table(const SublayerKey& key) {
    const uint32_t status = check_sublayer(key);
    if (status != 0) return status;
    queue("delete table inet " + record_.table + "\n");
    const uint64_t next_id = record_.next_id;
    record_ = Record{};
    record_.next_id = next_id;
    return finish();
}

uint32_t NftSession::add_rule(const FilterRecord& filter, uint64_t& id) {
    const uint32_t checked = check_sublayer(filter.sublayer);
    if (checked != 0) return checked;

    std::string interface_name;
    if (filter.field == FilterField::local_interface) {
        char name[IF_NAMESIZE] = {};
        if (filter.interface_luid > UINT32_MAX ||
            if_indextoname(static_cast<unsigned>(filter.interface_luid), name) == nullptr) {
            log("interface %I64d not found", static_cast<long long>(filter.interface_luid));
            return ENODEV;
        }
        interface_name = name;
    }
    std::string chain;
    std::string rule;
    if (!nft::rule_for(filter, interface_name, chain, rule)) return EINVAL;

    const uint64_t new_id = record_.next_id++;
    record_.rules[new_id] = Rule{chain, 0};
    queue("add rule inet " + record_.table + " " + chain + " " + rule + "\n", new_id);
    const uint32_t status = finish();
    if (status == 0) id = new_id;
    return status;
}

void NftSession::add_elements(std::span<const FilterRecord> filters, std::span<uint64_t> ids,
                              std::span<uint32_t> results) {
    for (const FilterRecord& filter : filters) {
        if (check_sublayer(filter.sublayer) != 0) {
            for (size_t i = 0; i < filters.size(); ++i) results[i] = ENOENT;
            return;
        }
    }
    AddressLists added;
    std::vector<uint64_t> new_ids;
    for (const FilterRecord& filter : filters) {
        const ElementKey key{nft::element_set(filter), filter.address};
        // Only the first user of an address puts it into the set.
        if (record_.element_users[key]++ == 0) added[key.first].push_back(key.second);
        new_ids.push_back(record_.next_id++);
        record_.elements[new_ids.back()] = Element{nft::element_set(filter), filter.address};
    }
    queue_elements("add", added);
    for (const auto& [set, addresses] : added) {
        auto& confirming = batch_elements_[set];
        confirming.insert(confirming.end(), addresses.begin(), addresses.end());
    }
    const uint32_t status = finish();
    for (size_t i = 0; i < filters.size(); ++i) {
        ids[i] = status == 0 ? new_ids[i] : 0;
        results[i] = status;
    }
}

void NftSession::delete_filters(std::span<const uint64_t> ids, std::span<uint32_t> results) {
    AddressLists removed;
    std::vector<size_t> queued;
    for (size_t i = 0; i < ids.size(); ++i) {
        results[i] = 0;
        if (const auto rule = record_.rules.find(ids[i]); rule != record_.rules.end()) {
            // A rule of a batch not yet committed has no handle to delete it by.
            if (rule->second.handle == 0) {
                results[i] = EAGAIN;
                continue;
            }
            queue("delete rule inet " + record_.table + " " + rule->second.chain + " handle " +
                  std::to_string(rule->second.handle) + "\n");
            --record_.chain_rules[rule->second.chain];
            record_.rules.erase(rule);
            queued.push_back(i);
            continue;
        }
        const auto element = record_.elements.find(ids[i]);
        if (element == record_.elements.end()) {
            results[i] = ENOENT;
            continue;
        }
        const ElementKey key{element->second.set, element->second.address};
        record_.elements.erase(element);
        queued.push_back(i);
        if (--record_.element_users[key] == 0) {
            record_.element_users.erase(key);
            removed[key.first].push_back(key.second);
        }
    }
    AddressLists named;
    for (auto& [set, addresses] : removed) {
        // A set left without users is emptied by one short command instead of one naming
        // every address, each of which libnftables would parse and check first.
        if (set_in_use(set)) {
            named[set] = std::move(addresses);
        } else {
            queue("flush set inet " + record_.table + " " + set + "\n");
        }
    }
    queue_elements("delete", named);
    const uint32_t status = finish();
    for (size_t i : queued) results[i] = status;
}

}  // namespace quietway
