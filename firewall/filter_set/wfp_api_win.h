#pragma once

#include <cstddef>
#include <memory>

#include "firewall/filter_set/wfp_headers_win.h"

namespace quietway {

// The Windows calls the filter set makes, one to one, so that tests can stand in for the
// system and see exactly what is passed.
class WfpApi {
public:
    virtual ~WfpApi() = default;

    virtual DWORD engine_open(const wchar_t* server_name, UINT32 authn_service,
                              SEC_WINNT_AUTH_IDENTITY_W* auth_identity,
                              const FWPM_SESSION0* session, HANDLE* engine) = 0;
    virtual DWORD engine_close(HANDLE engine) = 0;
    virtual DWORD transaction_begin(HANDLE engine, UINT32 flags) = 0;
    virtual DWORD transaction_commit(HANDLE engine) = 0;
    virtual DWORD transaction_abort(HANDLE engine) = 0;
    virtual DWORD sublayer_add(HANDLE engine, const FWPM_SUBLAYER0* sublayer,
                               PSECURITY_DESCRIPTOR sd) = 0;
    virtual DWORD sublayer_delete_by_key(HANDLE engine, const GUID* key) = 0;
    virtual DWORD filter_add(HANDLE engine, const FWPM_FILTER0* filter, PSECURITY_DESCRIPTOR sd,
                             UINT64* id) = 0;
    virtual DWORD filter_delete_by_id(HANDLE engine, UINT64 id) = 0;
    virtual RPC_STATUS uuid_create(UUID* uuid) = 0;
    virtual ULONG get_adapters_info(IP_ADAPTER_INFO* info, ULONG* size) = 0;
    virtual DWORD convert_interface_index_to_luid(NET_IFINDEX index, NET_LUID* luid) = 0;
    // The process heap, where the adapter list is read into.
    virtual void* heap_alloc(size_t size) = 0;
    virtual void heap_free(void* block) = 0;
};

// The real calls: fwpuclnt, iphlpapi, rpcrt4 and the process heap.
class SystemWfpApi : public WfpApi {
public:
    DWORD engine_open(const wchar_t* server_name, UINT32 authn_service,
                      SEC_WINNT_AUTH_IDENTITY_W* auth_identity, const FWPM_SESSION0* session,
                      HANDLE* engine) override;
    DWORD engine_close(HANDLE engine) override;
    DWORD transaction_begin(HANDLE engine, UINT32 flags) override;
    DWORD transaction_commit(HANDLE engine) override;
    DWORD transaction_abort(HANDLE engine) override;
    DWORD sublayer_add(HANDLE engine, const FWPM_SUBLAYER0* sublayer,
                       PSECURITY_DESCRIPTOR sd) override;
    DWORD sublayer_delete_by_key(HANDLE engine, const GUID* key) override;
    DWORD filter_add(HANDLE engine, const FWPM_FILTER0* filter, PSECURITY_DESCRIPTOR sd,
                     UINT64* id) override;
    DWORD filter_delete_by_id(HANDLE engine, UINT64 id) override;
    RPC_STATUS uuid_create(UUID* uuid) override;
    ULONG get_adapters_info(IP_ADAPTER_INFO* info, ULONG* size) override;
    DWORD convert_interface_index_to_luid(NET_IFINDEX index, NET_LUID* luid) override;
    void* heap_alloc(size_t size) override;
    void heap_free(void* block) override;
};

}  // namespace quietway
