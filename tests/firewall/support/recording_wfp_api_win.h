#pragma once

// A stand-in for the WFP, IP Helper and RPC calls that keeps a deep copy of every object the
// filter set passes, and answers with configurable results.

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "firewall/filter_set/wfp_api_win.h"

namespace quietway::testing {

struct RecordedCondition {
    GUID field{};
    FWP_MATCH_TYPE match{};
    FWP_DATA_TYPE type{};
    UINT64 uint64 = 0;
    FWP_DATA_TYPE low_type{};
    UINT32 low = 0;
    FWP_DATA_TYPE high_type{};
    UINT32 high = 0;
    UINT32 v4_address = 0;
    UINT32 v4_mask = 0;
};

struct RecordedFilter {
    GUID filter_key{};
    std::wstring name;
    bool has_description = false;
    UINT32 flags = 0;
    bool has_provider = false;
    UINT32 provider_data_size = 0;
    GUID layer{};
    GUID sublayer{};
    FWP_DATA_TYPE weight_type{};
    UINT8 weight = 0;
    UINT32 condition_count = 0;
    std::vector<RecordedCondition> conditions;
    FWP_ACTION_TYPE action = 0;
    UINT64 raw_context = 0;
    bool has_security_descriptor = false;
    UINT64 id = 0;
};

struct RecordedSublayer {
    GUID key{};
    std::wstring name;
    std::wstring description;
    UINT16 flags = 0;
    UINT16 weight = 0;
    bool has_provider = false;
    bool has_security_descriptor = false;
};

struct FakeAdapter {
    std::string description;
    DWORD index;
};

class RecordingWfpApi : public WfpApi {
public:
    static inline const HANDLE kEngine = reinterpret_cast<HANDLE>(0x7e57);
    static constexpr GUID kSublayerKey = {
        0x11223344, 0x5566, 0x4788, {0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff, 0x01}};

    // Answers.
    RPC_STATUS uuid_status = RPC_S_OK;
    std::vector<FakeAdapter> adapters;
    ULONG adapters_status = NO_ERROR;  // of the call with a large enough buffer
    DWORD failing_luid_index = 0;      // ConvertInterfaceIndexToLuid fails for this index
    int failing_alloc = -1;            // the n-th allocation (0-based) fails
    int failing_filter_add = -1;       // the n-th FwpmFilterAdd0 (0-based) fails
    DWORD filter_add_failure = static_cast<DWORD>(FWP_E_INVALID_PARAMETER);

    // Records.
    const wchar_t* server_name = L"unset";
    UINT32 authn_service = 0;
    bool had_auth_identity = false;
    FWPM_SESSION0 session{};
    std::vector<RecordedSublayer> sublayers;
    std::vector<GUID> deleted_sublayers;
    std::vector<RecordedFilter> filters;
    std::vector<UINT64> deleted_filters;
    std::vector<HANDLE> closed_engines;
    // "begin <flags>", "commit", "abort", "add filter", "add sublayer": the order of calls.
    std::vector<std::string> sequence;
    // Ids of filters in place: those added in a transaction join at its commit.
    std::vector<UINT64> committed_filters;
    std::vector<ULONG> adapter_query_sizes;
    std::vector<size_t> allocations;
    int frees = 0;

    static UINT64 luid_of(DWORD index) { return 0x0006000000000000ull + index; }

    DWORD engine_open(const wchar_t* server, UINT32 authn, SEC_WINNT_AUTH_IDENTITY_W* identity,
                      const FWPM_SESSION0* requested, HANDLE* engine) override {
        server_name = server;
        authn_service = authn;
        had_auth_identity = identity != nullptr;
        session = *requested;
        *engine = kEngine;
        return ERROR_SUCCESS;
    }
    DWORD engine_close(HANDLE engine) override {
        closed_engines.push_back(engine);
        return ERROR_SUCCESS;
    }
    DWORD transaction_begin(HANDLE, UINT32 flags) override {
        sequence.push_back("begin " + std::to_string(flags));
        in_transaction_ = true;
        return ERROR_SUCCESS;
    }
    DWORD transaction_commit(HANDLE) override {
        sequence.push_back("commit");
        if (!in_transaction_) return static_cast<DWORD>(FWP_E_NO_TXN_IN_PROGRESS);
        in_transaction_ = false;
        committed_filters.insert(committed_filters.end(), pending_.begin(), pending_.end());
        pending_.clear();
        return ERROR_SUCCESS;
    }
    DWORD transaction_abort(HANDLE) override {
        sequence.push_back("abort");
        if (!in_transaction_) return static_cast<DWORD>(FWP_E_NO_TXN_IN_PROGRESS);
        in_transaction_ = false;
        pending_.clear();
        return ERROR_SUCCESS;
    }
    DWORD sublayer_add(HANDLE, const FWPM_SUBLAYER0* sublayer, PSECURITY_DESCRIPTOR sd) override {
        RecordedSublayer copy;
        copy.key = sublayer->subLayerKey;
        copy.name = sublayer->displayData.name;
        copy.description = sublayer->displayData.description;
        copy.flags = sublayer->flags;
        copy.weight = sublayer->weight;
        copy.has_provider = sublayer->providerKey != nullptr;
        copy.has_security_descriptor = sd != nullptr;
        sublayers.push_back(copy);
        sequence.push_back("add sublayer");
        return ERROR_SUCCESS;
    }
    DWORD sublayer_delete_by_key(HANDLE, const GUID* key) override {
        deleted_sublayers.push_back(*key);
        return ERROR_SUCCESS;
    }
    DWORD filter_add(HANDLE, const FWPM_FILTER0* filter, PSECURITY_DESCRIPTOR sd,
                     UINT64* id) override {
        sequence.push_back("add filter");
        if (filter_adds_++ == failing_filter_add) return filter_add_failure;
        RecordedFilter copy;
        copy.filter_key = filter->filterKey;
        copy.name = filter->displayData.name != nullptr ? filter->displayData.name : L"";
        copy.has_description = filter->displayData.description != nullptr;
        copy.flags = filter->flags;
        copy.has_provider = filter->providerKey != nullptr;
        copy.provider_data_size = filter->providerData.size;
        copy.layer = filter->layerKey;
        copy.sublayer = filter->subLayerKey;
        copy.weight_type = filter->weight.type;
        copy.weight = filter->weight.type == FWP_UINT8 ? filter->weight.uint8 : 0;
        copy.condition_count = filter->numFilterConditions;
        for (UINT32 i = 0; i < filter->numFilterConditions; ++i) {
            copy.conditions.push_back(copy_condition(filter->filterCondition[i]));
        }
        copy.action = filter->action.type;
        copy.raw_context = filter->rawContext;
        copy.has_security_descriptor = sd != nullptr;
        copy.id = next_id_++;
        *id = copy.id;
        (in_transaction_ ? pending_ : committed_filters).push_back(copy.id);
        filters.push_back(copy);
        return ERROR_SUCCESS;
    }
    DWORD filter_delete_by_id(HANDLE, UINT64 id) override {
        deleted_filters.push_back(id);
        return ERROR_SUCCESS;
    }
    RPC_STATUS uuid_create(UUID* uuid) override {
        *uuid = kSublayerKey;
        return uuid_status;
    }
    ULONG get_adapters_info(IP_ADAPTER_INFO* info, ULONG* size) override {
        adapter_query_sizes.push_back(*size);
        const ULONG needed = static_cast<ULONG>(adapters.size() * sizeof(IP_ADAPTER_INFO));
        if (*size < needed) {
            *size = needed;
            return ERROR_BUFFER_OVERFLOW;
        }
        if (adapters_status != NO_ERROR) return adapters_status;
        std::memset(info, 0, *size);
        for (size_t i = 0; i < adapters.size(); ++i) {
            IP_ADAPTER_INFO& adapter = info[i];
            std::strncpy(adapter.Description, adapters[i].description.c_str(),
                         sizeof adapter.Description - 1);
            adapter.Index = adapters[i].index;
            adapter.Next = i + 1 < adapters.size() ? &info[i + 1] : nullptr;
        }
        return NO_ERROR;
    }
    DWORD convert_interface_index_to_luid(NET_IFINDEX index, NET_LUID* luid) override {
        if (index == failing_luid_index) return ERROR_FILE_NOT_FOUND;
        luid->Value = luid_of(index);
        return NO_ERROR;
    }
    void* heap_alloc(size_t size) override {
        const int ordinal = static_cast<int>(allocations.size());
        allocations.push_back(size);
        return ordinal == failing_alloc ? nullptr : std::malloc(size);
    }
    void heap_free(void* block) override {
        ++frees;
        std::free(block);
    }

private:
    static RecordedCondition copy_condition(const FWPM_FILTER_CONDITION0& condition) {
        RecordedCondition copy;
        copy.field = condition.fieldKey;
        copy.match = condition.matchType;
        copy.type = condition.conditionValue.type;
        switch (copy.type) {
            case FWP_UINT64:
                copy.uint64 = *condition.conditionValue.uint64;
                break;
            case FWP_RANGE_TYPE:
                copy.low_type = condition.conditionValue.rangeValue->valueLow.type;
                copy.low = condition.conditionValue.rangeValue->valueLow.uint32;
                copy.high_type = condition.conditionValue.rangeValue->valueHigh.type;
                copy.high = condition.conditionValue.rangeValue->valueHigh.uint32;
                break;
            case FWP_V4_ADDR_MASK:
                copy.v4_address = condition.conditionValue.v4AddrMask->addr;
                copy.v4_mask = condition.conditionValue.v4AddrMask->mask;
                break;
            default:
                break;
        }
        return copy;
    }

    UINT64 next_id_ = 0x10000;
    int filter_adds_ = 0;
    bool in_transaction_ = false;
    std::vector<UINT64> pending_;
};

}  // namespace quietway::testing
