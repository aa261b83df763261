#pragma once

// A stand-in for the packet filter that records every call the filter set makes and answers
// with configurable results.

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "firewall/filter_set/filter_platform.h"

namespace quietway::testing {

struct PlatformCall {
    enum class Kind {
        find_adapters,
        open_engine,
        close_engine,
        create_key,
        add_sublayer,
        delete_sublayer,
        begin,
        commit,
        abort,
        add_filter,
        delete_filter
    };
    Kind kind;
    EngineHandle engine = nullptr;
    SublayerRecord sublayer;  // add_sublayer
    std::wstring name;        // add_sublayer, add_filter
    std::wstring description;
    FilterRecord filter;  // add_filter
    SublayerKey key;      // delete_sublayer
    uint64_t id = 0;      // add_filter (the id handed out), delete_filter
};

class RecordingFilterPlatform : public FilterPlatform {
public:
    // What the stand-in answers.
    std::vector<uint64_t> adapters;
    uint32_t adapter_list_status = 0;
    uint32_t open_status = 0;
    bool key_created = true;
    uint32_t add_sublayer_status = 0;
    uint32_t delete_sublayer_status = 0;
    uint32_t close_status = 0;
    uint32_t begin_status = 0;
    uint32_t commit_status = 0;
    std::function<uint32_t(const FilterRecord&)> add_filter_status = [](const FilterRecord&) {
        return 0u;
    };
    uint32_t delete_filter_status = 0;

    // What it saw.
    std::vector<PlatformCall> calls;
    // Filters in place; inside a transaction, the ones added wait in `pending_filters`
    // until the commit.
    std::set<uint64_t> live_filters;
    std::set<uint64_t> pending_filters;
    bool in_transaction = false;
    bool engine_is_open = false;

    static inline EngineHandle const kEngine = reinterpret_cast<EngineHandle>(0x5eed);
    static constexpr uint8_t kKeyByte = 0xA7;

    uint32_t find_vpn_adapters(std::vector<uint64_t>& luids) override {
        calls.push_back({PlatformCall::Kind::find_adapters});
        if (adapter_list_status != 0) return adapter_list_status;
        luids.insert(luids.end(), adapters.begin(), adapters.end());
        return 0;
    }
    uint32_t begin_transaction(EngineHandle engine) override {
        calls.push_back({PlatformCall::Kind::begin, engine});
        if (begin_status == 0) in_transaction = true;
        return begin_status;
    }
    uint32_t commit_transaction(EngineHandle engine) override {
        calls.push_back({PlatformCall::Kind::commit, engine});
        if (commit_status != 0) return commit_status;
        in_transaction = false;
        live_filters.insert(pending_filters.begin(), pending_filters.end());
        pending_filters.clear();
        return 0;
    }
    uint32_t abort_transaction(EngineHandle engine) override {
        calls.push_back({PlatformCall::Kind::abort, engine});
        in_transaction = false;
        pending_filters.clear();
        return 0;
    }
    uint32_t open_engine(EngineHandle& engine) override {
        calls.push_back({PlatformCall::Kind::open_engine});
        if (open_status != 0) return open_status;
        engine = kEngine;
        engine_is_open = true;
        return 0;
    }
    uint32_t close_engine(EngineHandle engine) override {
        calls.push_back({PlatformCall::Kind::close_engine, engine});
        engine_is_open = false;
        live_filters.clear();
        return close_status;
    }
    bool create_sublayer_key(SublayerKey& key) override {
        calls.push_back({PlatformCall::Kind::create_key});
        if (!key_created) return false;
        for (uint8_t& b : key.bytes) b = kKeyByte;
        return true;
    }
    uint32_t add_sublayer(EngineHandle engine, const SublayerRecord& sublayer) override {
        PlatformCall call{PlatformCall::Kind::add_sublayer, engine, sublayer};
        call.name = sublayer.name != nullptr ? sublayer.name : L"";
        call.description = sublayer.description != nullptr ? sublayer.description : L"";
        calls.push_back(call);
        return add_sublayer_status;
    }
    uint32_t delete_sublayer(EngineHandle engine, const SublayerKey& key) override {
        PlatformCall call{PlatformCall::Kind::delete_sublayer, engine};
        call.key = key;
        calls.push_back(call);
        return delete_sublayer_status;
    }
    uint32_t add_filter(EngineHandle engine, const FilterRecord& filter, uint64_t& id) override {
        PlatformCall call{PlatformCall::Kind::add_filter, engine};
        call.filter = filter;
        call.name = filter.display_name != nullptr ? filter.display_name : L"";
        const uint32_t status = add_filter_status(filter);
        if (status == 0) {
            id = next_id_++;
            call.id = id;
            (in_transaction ? pending_filters : live_filters).insert(id);
        }
        calls.push_back(call);
        return status;
    }
    uint32_t delete_filter(EngineHandle engine, uint64_t id) override {
        PlatformCall call{PlatformCall::Kind::delete_filter, engine};
        call.id = id;
        calls.push_back(call);
        if (delete_filter_status == 0) live_filters.erase(id);
        return delete_filter_status;
    }

    std::vector<PlatformCall> of_kind(PlatformCall::Kind kind) const {
        std::vector<PlatformCall> found;
        for (const PlatformCall& call : calls) {
            if (call.kind == kind) found.push_back(call);
        }
        return found;
    }
    std::vector<PlatformCall::Kind> kinds() const {
        std::vector<PlatformCall::Kind> found;
        for (const PlatformCall& call : calls) found.push_back(call.kind);
        return found;
    }

private:
    uint64_t next_id_ = 1001;
};

}  // namespace quietway::testing
