#include "firewall/filter_set/wfp_filter_platform_win.h"

#include <cstring>
#include <string>
#include <string_view>

#include "common/log/rotating_log.h"

namespace quietway {
namespace {

GUID to_guid(const SublayerKey& key) {
    GUID guid;
    std::memcpy(&guid, key.bytes, sizeof guid);
    return guid;
}

DWORD logged(const char* call, DWORD status) {
    if (status != ERROR_SUCCESS) log("%s failed with error: %lu", call, status);
    return status;
}

}  // namespace

WfpFilterPlatform::WfpFilterPlatform()
    : owned_api_(std::make_unique<SystemWfpApi>()), api_(*owned_api_) {}

WfpFilterPlatform::WfpFilterPlatform(WfpApi& api) : api_(api) {}

uint32_t WfpFilterPlatform::open_engine(EngineHandle& engine) {
    FWPM_SESSION0 session;
    std::memset(&session, 0, sizeof session);
    session.flags = FWPM_SESSION_FLAG_DYNAMIC;
    HANDLE handle = nullptr;
    const DWORD status = logged("FwpmEngineOpen0", api_.engine_open(nullptr, RPC_C_AUTHN_WINNT,
                                                                    nullptr, &session, &handle));
    if (status == ERROR_SUCCESS) engine = handle;
    return status;
}

uint32_t WfpFilterPlatform::close_engine(EngineHandle engine) {
    return logged("FwpmEngineClose0", api_.engine_close(engine));
}

uint32_t WfpFilterPlatform::begin_transaction(EngineHandle engine) {
    return logged("FwpmTransactionBegin0", api_.transaction_begin(engine, 0));
}

uint32_t WfpFilterPlatform::commit_transaction(EngineHandle engine) {
    return logged("FwpmTransactionCommit0", api_.transaction_commit(engine));
}

uint32_t WfpFilterPlatform::abort_transaction(EngineHandle engine) {
    return logged("FwpmTransactionAbort0", api_.transaction_abort(engine));
}

bool WfpFilterPlatform::create_sublayer_key(SublayerKey& key) {
    UUID uuid;
    const RPC_STATUS status = api_.uuid_create(&uuid);
    // A key unique to this machine is all a dynamic session needs.
    if (status != RPC_S_OK && status != RPC_S_UUID_LOCAL_ONLY) {
        log("UuidCreate failed with error: %ld", static_cast<long>(status));
        return false;
    }
    std::memcpy(key.bytes, &uuid, sizeof key.bytes);
    return true;
}

uint32_t WfpFilterPlatform::add_sublayer(EngineHandle engine, const SublayerRecord& sublayer) {
    std::wstring name = sublayer.name != nullptr ? sublayer.name : L"";
    std::wstring description = sublayer.description != nullptr ? sublayer.description : L"";
    FWPM_SUBLAYER0 record;
    std::memset(&record, 0, sizeof record);
    record.subLayerKey = to_guid(sublayer.key);
    record.displayData.name = name.data();
    record.displayData.description = description.data();
    record.flags = sublayer.flags;
    record.weight = sublayer.weight;
    return logged("FwpmSubLayerAdd0", api_.sublayer_add(engine, &record, nullptr));
}

uint32_t WfpFilterPlatform::delete_sublayer(EngineHandle engine, const SublayerKey& key) {
    const GUID guid = to_guid(key);
    return logged("FwpmSubLayerDeleteByKey0", api_.sublayer_delete_by_key(engine, &guid));
}

uint32_t WfpFilterPlatform::add_filter(EngineHandle engine, const FilterRecord& filter,
                                       uint64_t& id) {
    std::wstring name = filter.display_name != nullptr ? filter.display_name : L"";
    FWPM_FILTER0 record;
    std::memset(&record, 0, sizeof record);
    record.displayData.name = name.data();
    record.layerKey = filter.layer == FilterLayer::connect_v4 ? FWPM_LAYER_ALE_AUTH_CONNECT_V4
                                                              : FWPM_LAYER_ALE_AUTH_CONNECT_V6;
    record.subLayerKey = to_guid(filter.sublayer);
    record.weight.type = filter.weighted ? FWP_UINT8 : FWP_EMPTY;
    if (filter.weighted) record.weight.uint8 = filter.weight;
    record.action.type =
        filter.action == FilterAction::permit ? FWP_ACTION_PERMIT : FWP_ACTION_BLOCK;

    // The condition's value lives here until the call returns; the engine copies it.
    FWPM_FILTER_CONDITION0 condition;
    std::memset(&condition, 0, sizeof condition);
    UINT64 luid = filter.interface_luid;
    FWP_RANGE0 range;
    std::memset(&range, 0, sizeof range);
    FWP_V4_ADDR_AND_MASK address = {filter.address, 0xFFFFFFFFu};

    if (filter.field == FilterField::local_interface) {
        condition.fieldKey = FWPM_CONDITION_IP_LOCAL_INTERFACE;
        condition.matchType = FWP_MATCH_EQUAL;
        condition.conditionValue.type = FWP_UINT64;
        condition.conditionValue.uint64 = &luid;
    } else if (filter.field != FilterField::none) {
        condition.fieldKey = filter.field == FilterField::local_address
                                 ? FWPM_CONDITION_IP_LOCAL_ADDRESS
                                 : FWPM_CONDITION_IP_REMOTE_ADDRESS;
        if (filter.match == FilterMatch::range) {
            range.valueLow.type = FWP_UINT32;
            range.valueLow.uint32 = filter.address;
            range.valueHigh.type = FWP_UINT32;
            range.valueHigh.uint32 = filter.address_high;
            condition.matchType = FWP_MATCH_RANGE;
            condition.conditionValue.type = FWP_RANGE_TYPE;
            condition.conditionValue.rangeValue = &range;
        } else {
            condition.matchType = FWP_MATCH_EQUAL;
            condition.conditionValue.type = FWP_V4_ADDR_MASK;
            condition.conditionValue.v4AddrMask = &address;
        }
    }
    if (filter.field != FilterField::none) {
        record.numFilterConditions = 1;
        record.filterCondition = &condition;
    }

    UINT64 new_id = 0;
    const DWORD status =
        logged("FwpmFilterAdd0", api_.filter_add(engine, &record, nullptr, &new_id));
    if (status == ERROR_SUCCESS) id = new_id;
    return status;
}

uint32_t WfpFilterPlatform::delete_filter(EngineHandle engine, uint64_t id) {
    return logged("FwpmFilterDeleteById0", api_.filter_delete_by_id(engine, id));
}

}  // namespace quietway
