#include "firewall/filter_set/wfp_firewall.h"

#include <string>

#include "common/log/rotating_log.h"
#include "common/store/store.h"
#include "firewall/filter_set/ipv4_text.h"

namespace quietway {
namespace {

constexpr const wchar_t* kSublayerName = L"QuietwayFirewall";
constexpr uint16_t kSublayerWeight = 0x100;

void log_group(uint32_t status, const char* ok_line, const char* failed_line) {
    log(status == kFilterOk ? ok_line : failed_line);
}

}  // namespace

WfpFirewall::WfpFirewall()
    : owned_platform_(make_system_filter_platform()), platform_(*owned_platform_) {}

WfpFirewall::WfpFirewall(FilterPlatform& platform) : platform_(platform) {}

WfpFirewall::~WfpFirewall() { StopFirewall(); }

bool WfpFirewall::InitFirewall() {
    std::string app_dir;
    return get_setting_string("app", "app_dir", app_dir);
}

void WfpFirewall::AddPermitIP(const char* text, uint32_t direction) {
    if (text == nullptr) return;
    PermitEntry entry;
    entry.direction = direction;
    Ipv4Address parsed;
    if (parse_ipv4(text, parsed)) {
        for (int i = 0; i < 4; ++i) entry.parts[i] = parsed.parts[i];
        entry.address = parsed.value;
    }
    permits_.push_back(entry);
}

bool WfpFirewall::StartFirewall() {
    // A set that runs stays as it is: the owner stops it before starting it again.
    if (engine_ != nullptr) {
        start_status_ = kFilterNothingToDo;
        return false;
    }
    start_status_ = kFilterOk;
    adapter_luids_.clear();
    const uint32_t found = platform_.find_vpn_adapters(adapter_luids_);
    if (found != kFilterOk) return start_failed(found);
    if (adapter_luids_.empty()) {
        log("No TAP adapters found!");
        return start_failed(kFilterNothingToDo);
    }
    log("Found %d TAP adapters\n", static_cast<int>(adapter_luids_.size()));

    uint32_t status = OpenCloseEngine(true);
    if (status != kFilterOk) return start_failed(status);
    log("firewall interface created");
    // The sublayer and every filter go in as one transaction: no connection meets a
    // half-built set, and a failure half way leaves nothing behind.
    status = platform_.begin_transaction(engine_);
    if (status != kFilterOk) return start_failed(status);
    status = AddRemoveSubLayer(true);
    if (status != kFilterOk) return abort_start(status);
    log("firewall interface binded");

    // Every group is still added and logged after one has failed; the first failure then
    // aborts the whole set. 22 from a group means it had nothing to add, not a failure.
    uint32_t first_failure = kFilterOk;
    const auto group = [&first_failure](uint32_t result, const char* ok_line,
                                        const char* failed_line) {
        log_group(result, ok_line, failed_line);
        if (first_failure == kFilterOk && result != kFilterNothingToDo) first_failure = result;
    };
    group(AddRemoveBlockAllFilter(true), "AddRemoveBlockAllFilter ok",
          "AddRemoveBlockAllFilter failed");
    group(AddRemoveTapFilter2(true), "AddRemoveTapFilter2 ok", "AddRemoveTapFilter2 failed");
    group(AddRemovePermitRangeIPsFilter(true), "AddRemovePermitRangeIPsFilter ok",
          "AddRemovePermitRangeIPsFilter failed");
    group(AddRemovePermitIPsFilter(true), "AddRemovePermitIPsFilter ok",
          "AddRemovePermitIPsFilter failed");
    if (first_failure != kFilterOk) return abort_start(first_failure);

    status = platform_.commit_transaction(engine_);
    if (status != kFilterOk) return abort_start(status);
    return true;
}

// A failed start leaves nothing behind: the engine it opened is closed and its permit
// entries go, so that the owner, which never stops a set that did not start, can simply
// start again with the addresses of its next connection.
bool WfpFirewall::start_failed(uint32_t status) {
    start_status_ = status;
    OpenCloseEngine(false);
    permits_.clear();
    adapter_luids_.clear();
    return false;
}

bool WfpFirewall::abort_start(uint32_t status) {
    platform_.abort_transaction(engine_);
    // Nothing of the transaction exists: forget its ids and its sublayer.
    block_filter_ids_[0] = block_filter_ids_[1] = 0;
    range_filter_ids_[0] = range_filter_ids_[1] = 0;
    adapter_filter_ids_.clear();
    for (PermitEntry& entry : permits_) entry.filter_id = 0;
    sublayer_key_ = SublayerKey{};
    return start_failed(status);
}

bool WfpFirewall::StopFirewall() {
    AddRemoveBlockAllFilter(false);
    AddRemoveTapFilter2(false);
    AddRemovePermitRangeIPsFilter(false);
    AddRemovePermitIPsFilter(false);
    const uint32_t sublayer = AddRemoveSubLayer(false);
    if (!engine_open()) return false;
    // Closing the session removes whatever could not be deleted one by one, so the engine is
    // closed even when the sublayer deletion failed.
    const uint32_t engine = OpenCloseEngine(false);
    return sublayer == kFilterOk && engine == kFilterOk;
}

uint32_t WfpFirewall::OpenCloseEngine(bool add) {
    if (add) {
        // A second session would leave the first one's handle and filters unreachable.
        if (engine_ != nullptr) return kFilterNothingToDo;
        EngineHandle engine = nullptr;
        const uint32_t status = platform_.open_engine(engine);
        if (status == kFilterOk) engine_ = engine;
        return status;
    }
    if (engine_ == nullptr) return kFilterNothingToDo;
    const uint32_t status = platform_.close_engine(engine_);
    engine_ = nullptr;
    return status;
}

uint32_t WfpFirewall::AddRemoveSubLayer(bool add) {
    if (engine_ == nullptr) return kFilterNothingToDo;
    if (add) {
        SublayerRecord sublayer;
        if (!platform_.create_sublayer_key(sublayer.key)) return kFilterNothingToDo;
        sublayer.name = kSublayerName;
        sublayer.description = kSublayerName;
        sublayer.flags = 0;
        sublayer.weight = kSublayerWeight;
        const uint32_t status = platform_.add_sublayer(engine_, sublayer);
        if (status == kFilterOk) sublayer_key_ = sublayer.key;
        return status;
    }
    if (sublayer_key_.is_zero()) return kFilterNothingToDo;
    const uint32_t status = platform_.delete_sublayer(engine_, sublayer_key_);
    sublayer_key_ = SublayerKey{};
    return status;
}

}  // namespace quietway
