#include "firewall/filter_set/nft_session_posix.h"

#include <net/if.h>

#include <algorithm>
#include <cerrno>

#include "common/log/rotating_log.h"
#include "firewall/filter_set/nft_ruleset_posix.h"

namespace quietway {

uint32_t NftSession::open(std::unique_ptr<NftSession>& out) {
    uint32_t error = 0;
    std::unique_ptr<NftContext> context = NftContext::create(error);
    if (context == nullptr) return error;
    out.reset(new NftSession(std::move(context)));
    return 0;
}

uint32_t NftSession::check_sublayer(const SublayerKey& key) const {
    return !table_.empty() && key == key_ ? 0 : ENOENT;
}

uint32_t NftSession::add_table(const SublayerRecord& sublayer) {
    // One sublayer per session keeps rule handles unique as filter ids.
    if (!table_.empty()) return EEXIST;
    const std::string table = nft::table_name(sublayer.key);
    uint32_t status = context_->run(nft::table_commands(table, sublayer.name));
    if (status != 0) return status;

    // Read the table back: without the owner flag it would outlive this process. (The
    // JSON listing of this libnftables release misprints table flags; the text form is right.)
    std::string listing;
    status = context_->run("list table inet " + table, &listing, NftContext::Output::text);
    if (status == 0 && !nft::listed_table_is_owned(listing)) {
        log("nft table %s is not owned by this process", table.c_str());
        context_->run("delete table inet " + table);
        status = EIO;
    }
    if (status != 0) return status;
    table_ = table;
    key_ = sublayer.key;
    return 0;
}

uint32_t NftSession::delete_table(const SublayerKey& key) {
    const uint32_t status = check_sublayer(key);
    if (status != 0) return status;
    const uint32_t deleted = context_->run("delete table inet " + table_);
    if (deleted != 0) return deleted;
    table_.clear();
    key_ = SublayerKey{};
    rules_.clear();
    elements_.clear();
    element_users_.clear();
    return 0;
}

uint32_t NftSession::add_rule(const FilterRecord& filter, uint64_t& id) {
    uint32_t status = check_sublayer(filter.sublayer);
    if (status != 0) return status;

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

    // The echo is the rule as the kernel committed it, handle included: the read-back.
    std::string echoed;
    status = context_->run("add rule inet " + table_ + " " + chain + " " + rule, &echoed,
                           NftContext::Output::json_echo);
    if (status != 0) return status;
    const uint64_t handle = nft::echoed_rule_handle(echoed);
    if (handle == 0) {
        log("nft rule without a handle after adding it: %s", rule.c_str());
        return EIO;
    }
    rules_[handle] = chain;
    id = handle;
    return 0;
}

uint32_t NftSession::run_element_command(const char* verb, const AddressLists& lists) {
    std::string commands;
    for (const auto& [set, addresses] : lists) {
        if (addresses.empty()) continue;
        commands += std::string(verb) + " element inet " + table_ + " " + set + " { ";
        for (size_t i = 0; i < addresses.size(); ++i) {
            if (i > 0) commands += ", ";
            commands += nft::dotted(addresses[i]);
        }
        commands += " }\n";
    }
    return commands.empty() ? 0 : context_->run(commands);
}

uint32_t NftSession::confirm_elements(const AddressLists& added) {
    // One listing of the whole table reads back both sets.
    std::string listing;
    const uint32_t status = context_->run("list table inet " + table_, &listing);
    if (status != 0) return status;
    for (const auto& [set, addresses] : added) {
        std::vector<uint32_t> present = nft::listed_set_elements(listing, set);
        std::sort(present.begin(), present.end());
        for (uint32_t address : addresses) {
            if (!std::binary_search(present.begin(), present.end(), address)) {
                log("nft set %s lacks %s after adding it", set.c_str(),
                    nft::dotted(address).c_str());
                return EIO;
            }
        }
    }
    return 0;
}

void NftSession::add_elements(std::span<const FilterRecord> filters, std::span<uint64_t> ids,
                              std::span<uint32_t> results) {
    AddressLists added;
    std::vector<ElementKey> keys;
    uint32_t status = 0;
    for (const FilterRecord& filter : filters) {
        if (status == 0) status = check_sublayer(filter.sublayer);
        ElementKey key{nft::element_set(filter), filter.address};
        // Only the first user of an address puts it into the set.
        if (element_users_[key]++ == 0) added[key.first].push_back(key.second);
        keys.push_back(key);
    }
    if (status == 0 && !added.empty()) status = run_element_command("add", added);
    if (status == 0 && !added.empty()) status = confirm_elements(added);

    for (size_t i = 0; i < keys.size(); ++i) {
        if (status != 0) {
            if (--element_users_[keys[i]] == 0) element_users_.erase(keys[i]);
            ids[i] = 0;
            results[i] = status;
            continue;
        }
        ids[i] = next_element_id_++;
        elements_[ids[i]] = Element{nft::element_set(filters[i]), keys[i].second};
        results[i] = 0;
    }
}

uint32_t NftSession::delete_rule(uint64_t id) {
    const auto rule = rules_.find(id);
    if (rule == rules_.end()) return ENOENT;
    const uint32_t status = context_->run("delete rule inet " + table_ + " " + rule->second +
                                          " handle " + std::to_string(id));
    if (status == 0) rules_.erase(rule);
    return status;
}

void NftSession::delete_filters(std::span<const uint64_t> ids, std::span<uint32_t> results) {
    AddressLists removed;
    std::vector<size_t> removing;  // positions whose element leaves the set
    for (size_t i = 0; i < ids.size(); ++i) {
        const auto element = elements_.find(ids[i]);
        if (element == elements_.end()) {
            results[i] = delete_rule(ids[i]);
            continue;
        }
        const ElementKey key{element->second.set, element->second.address};
        elements_.erase(element);
        results[i] = 0;
        if (--element_users_[key] == 0) {
            element_users_.erase(key);
            removed[key.first].push_back(key.second);
            removing.push_back(i);
        }
    }
    const uint32_t status = run_element_command("delete", removed);
    for (size_t i : removing) results[i] = status;
}

}  // namespace quietway
