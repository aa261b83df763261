// A server-list document from the vendor applied to the store, as the updater's sync does.
#include <string>
#include <string_view>
#include <vector>

#include "common/store/store.h"
#include "fuzz/fuzz_environment.h"
#include "updater/sync/sync_documents.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace quietway;
    fuzz::environment();
    if (size > kServerListLimit) return -1;  // the sync refuses longer bodies unread
    apply_server_list(std::string_view(reinterpret_cast<const char*>(data), size), [] {});
    // Whatever the document, the list stays one the engine can read: decimal key names.
    std::vector<std::string> servers;
    fuzz::require(list_reg_subkeys(kServersPath, servers), "the server list stays readable");
    for (const std::string& name : servers) {
        uint32_t number = 0;
        std::string canonical;
        fuzz::require(positive_decimal(name, 0xFFFFFFFF, number, canonical) && canonical == name,
                      "servers are stored under canonical numbers");
    }
    return 0;
}
