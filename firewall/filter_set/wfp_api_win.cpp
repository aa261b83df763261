#include "firewall/filter_set/wfp_api_win.h"

namespace quietway {

DWORD SystemWfpApi::engine_open(const wchar_t* server_name, UINT32 authn_service,
                                SEC_WINNT_AUTH_IDENTITY_W* auth_identity,
                                const FWPM_SESSION0* session, HANDLE* engine) {
    return FwpmEngineOpen0(server_name, authn_service, auth_identity, session, engine);
}

DWORD SystemWfpApi::engine_close(HANDLE engine) { return FwpmEngineClose0(engine); }

DWORD SystemWfpApi::transaction_begin(HANDLE engine, UINT32 flags) {
    return FwpmTransactionBegin0(engine, flags);
}

DWORD SystemWfpApi::transaction_commit(HANDLE engine) { return FwpmTransactionCommit0(engine); }

DWORD SystemWfpApi::transaction_abort(HANDLE engine) { return FwpmTransactionAbort0(engine); }

DWORD SystemWfpApi::sublayer_add(HANDLE engine, const FWPM_SUBLAYER0* sublayer,
                                 PSECURITY_DESCRIPTOR sd) {
    return FwpmSubLayerAdd0(engine, sublayer, sd);
}

DWORD SystemWfpApi::sublayer_delete_by_key(HANDLE engine, const GUID* key) {
    return FwpmSubLayerDeleteByKey0(engine, key);
}

DWORD SystemWfpApi::filter_add(HANDLE engine, const FWPM_FILTER0* filter, PSECURITY_DESCRIPTOR sd,
                               UINT64* id) {
    return FwpmFilterAdd0(engine, filter, sd, id);
}

DWORD SystemWfpApi::filter_delete_by_id(HANDLE engine, UINT64 id) {
    return FwpmFilterDeleteById0(engine, id);
}

RPC_STATUS SystemWfpApi::uuid_create(UUID* uuid) { return UuidCreate(uuid); }

ULONG SystemWfpApi::get_adapters_info(IP_ADAPTER_INFO* info, ULONG* size) {
    return GetAdaptersInfo(info, size);
}

DWORD SystemWfpApi::convert_interface_index_to_luid(NET_IFINDEX index, NET_LUID* luid) {
    return ConvertInterfaceIndexToLuid(index, luid);
}

void* SystemWfpApi::heap_alloc(size_t size) { return HeapAlloc(GetProcessHeap(), 0, size); }

void SystemWfpApi::heap_free(void* block) { HeapFree(GetProcessHeap(), 0, block); }

}  // namespace quietway
