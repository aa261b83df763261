#include "firewall/filter_set/wfp_firewall.h"

#include <string>
#include <utility>

#include "common/log/rotating_log.h"
#include "common/store/store.h"
#include "firewall/filter_set/ipv4_text.h"

namespace quietway {
namespace {

constexpr const wchar_t* kSublayerName = L"QuietwayFirewall";
constexpr uint16_t kSublayerWeight = 0x100;

struct FilterGroup {
    uint32_t (WfpFirewall::*add_remove)(bool add);
    const char* ok_line;
    const char* failed_line;
};

// The filter groups in the order the set is built and taken down, with the lines that log
// each group's start.
constexpr FilterGroup kFilterGroups[] = {
    {&WfpFirewall::AddRemoveBlockAllFilter, "AddRemoveBlockAllFilter ok",
     "AddRemoveBlockAllFilter failed"},
    {&WfpFirewall::AddRemoveTapFilter2, "AddRemoveTapFilter2 ok", "AddRemoveTapFilter2 failed"},
    {&WfpFirewall::AddRemovePermitRangeIPsFilter, "AddRemovePermitRangeIPsFilter ok",
     "AddRemovePermitRangeIPsFilter failed"},
    {&WfpFirewall::AddRemovePermitIPsFilter, "AddRemovePermitIPsFilter ok",
     "AddRemovePermitIPsFilter failed"},
};

}  // namespace

// One transaction of the engine as a guard. Until its commit succeeds, the ids that the
// filter groups record are pending: leaving the scope any other way aborts the transaction
// and puts the record back as it was at `begin`, so no id of a filter that never came to be
// is kept.
class WfpFirewall::Transaction {
public:
    explicit Transaction(WfpFirewall& firewall) : firewall_(firewall) {}
    ~Transaction() {
        if (!open_) return;
        firewall_.platform_.abort_transaction(firewall_.engine_);
        firewall_.record_ = std::move(committed_);
    }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    uint32_t begin() {
        const uint32_t status = firewall_.platform_.begin_transaction(firewall_.engine_);
        open_ = status == kFilterOk;
        if (open_) committed_ = firewall_.record_;
        return status;
    }
    uint32_t commit() {
        const uint32_t status = firewall_.platform_.commit_transaction(firewall_.engine_);
        if (status == kFilterOk) open_ = false;
        return status;
    }

private:
    WfpFirewall& firewall_;
    Record committed_;
    bool open_ = false;
};

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
    record_.permits.push_back(entry);
}

bool WfpFirewall::StartFirewall() {
    // A set that runs stays as it is: the owner stops it before starting it again.
    if (engine_ != nullptr) {
        start_status_ = kFilterNothingToDo;
        return false;
    }
    start_status_ = start_set();
    if (start_status_ == kFilterOk) return true;
    // A failed start leaves nothing behind: the engine it opened is closed and its permit
    // entries go, so that the owner, which never stops a set that did not start, can simply
    // start again with the addresses of its next connection.
    OpenCloseEngine(false);
    record_.permits.clear();
    adapter_luids_.clear();
    return false;
}

uint32_t WfpFirewall::start_set() {
    adapter_luids_.clear();
    const uint32_t found = platform_.find_vpn_adapters(adapter_luids_);
    if (found != kFilterOk) return found;
    if (adapter_luids_.empty()) {
        log("No TAP adapters found!");
        return kFilterNothingToDo;
    }
    log("Found %d TAP adapters\n", static_cast<int>(adapter_luids_.size()));

    const uint32_t opened = OpenCloseEngine(true);
    if (opened != kFilterOk) return opened;
    log("firewall interface created");
    // The sublayer and every filter go in as one transaction: no connection meets a
    // half-built set, and a failure half way leaves nothing behind.
    Transaction transaction(*this);
    uint32_t status = transaction.begin();
    if (status == kFilterOk) status = AddRemoveSubLayer(true);
    if (status != kFilterOk) return status;
    log("firewall interface binded");
    status = add_groups();
    return status == kFilterOk ? transaction.commit() : status;
}

// Every group is still added and logged after one has failed; the first failure then aborts
// the whole set. 22 from a group means it had nothing to add, not a failure.
uint32_t WfpFirewall::add_groups() {
    uint32_t first_failure = kFilterOk;
    for (const FilterGroup& group : kFilterGroups) {
        const uint32_t status = (this->*group.add_remove)(true);
        log(status == kFilterOk ? group.ok_line : group.failed_line);
        if (first_failure == kFilterOk && status != kFilterNothingToDo) first_failure = status;
    }
    return first_failure;
}

bool WfpFirewall::HasVpnAdapter() {
    std::vector<uint64_t> luids;
    return platform_.find_vpn_adapters(luids) == kFilterOk && !luids.empty();
}

bool WfpFirewall::StopFirewall() {
    for (const FilterGroup& group : kFilterGroups) (this->*group.add_remove)(false);
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
        if (status == kFilterOk) record_.sublayer_key = sublayer.key;
        return status;
    }
    if (record_.sublayer_key.is_zero()) return kFilterNothingToDo;
    const uint32_t status = platform_.delete_sublayer(engine_, record_.sublayer_key);
    record_.sublayer_key = SublayerKey{};
    return status;
}

}  // namespace quietway
