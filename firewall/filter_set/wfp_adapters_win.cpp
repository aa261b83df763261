// The VPN adapters on Windows: TAP-style adapters found by their description.
#include <cstring>
#include <string_view>

#include "common/log/rotating_log.h"
#include "firewall/filter_set/wfp_filter_platform_win.h"

namespace quietway {
namespace {

// The size the adapter list is first read with; the system answers with the size it needs.
constexpr ULONG kFirstAdapterBufferSize = 648;

constexpr std::string_view kVpnAdapterDescriptions[] = {"TAP-Windows Adapter V9",
                                                        "Viscosity Virtual Adapter"};

bool is_vpn_adapter(const IP_ADAPTER_INFO& adapter) {
    const std::string_view description(adapter.Description,
                                       strnlen(adapter.Description, sizeof adapter.Description));
    for (std::string_view wanted : kVpnAdapterDescriptions) {
        if (description.find(wanted) != std::string_view::npos) return true;
    }
    return false;
}

// A block of the process heap, freed on every path.
class HeapBlock {
public:
    HeapBlock(WfpApi& api, size_t size) : api_(api), block_(api.heap_alloc(size)) {}
    ~HeapBlock() {
        if (block_ != nullptr) api_.heap_free(block_);
    }
    HeapBlock(const HeapBlock&) = delete;
    HeapBlock& operator=(const HeapBlock&) = delete;

    void reset(size_t size) {
        if (block_ != nullptr) api_.heap_free(block_);
        block_ = api_.heap_alloc(size);
    }
    IP_ADAPTER_INFO* adapters() const { return static_cast<IP_ADAPTER_INFO*>(block_); }

private:
    WfpApi& api_;
    void* block_;
};

}  // namespace

uint32_t WfpFilterPlatform::find_vpn_adapters(std::vector<uint64_t>& luids) {
    ULONG size = kFirstAdapterBufferSize;
    HeapBlock buffer(api_, size);
    if (buffer.adapters() == nullptr) {
        log("Error allocating memory needed to call GetAdaptersinfo");
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    if (api_.get_adapters_info(buffer.adapters(), &size) == ERROR_BUFFER_OVERFLOW) {
        buffer.reset(size);
        if (buffer.adapters() == nullptr) {
            log("Error allocating memory needed to call GetAdaptersinfo");
            return ERROR_NOT_ENOUGH_MEMORY;
        }
    }
    const ULONG result = api_.get_adapters_info(buffer.adapters(), &size);
    if (result != NO_ERROR) {
        log("GetAdaptersInfo failed with error: %d\n", static_cast<int>(result));
        return ERROR_SUCCESS;
    }
    for (const IP_ADAPTER_INFO* adapter = buffer.adapters(); adapter != nullptr;
         adapter = adapter->Next) {
        if (!is_vpn_adapter(*adapter)) continue;
        NET_LUID luid;
        if (api_.convert_interface_index_to_luid(adapter->Index, &luid) == NO_ERROR) {
            luids.push_back(luid.Value);
        }
    }
    return ERROR_SUCCESS;
}

}  // namespace quietway
