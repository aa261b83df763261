// The account expiry answer stored as the updater's account sync stores it.
#include <string>
#include <string_view>

#include "common/store/store.h"
#include "fuzz/fuzz_environment.h"
#include "updater/sync/sync_documents.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace quietway;
    fuzz::environment();
    if (size > kAccountAnswerLimit) return -1;
    const std::string_view answer(reinterpret_cast<const char*>(data), size);
    static std::string remembered;
    apply_account_expiry(answer, remembered);
    // The same answer again is never a change once one is remembered.
    const std::string before = remembered;
    if (!before.empty()) {
        fuzz::require(!apply_account_expiry(answer, remembered) && remembered == before,
                      "an answer equal to the remembered one writes nothing");
    }
    return 0;
}
