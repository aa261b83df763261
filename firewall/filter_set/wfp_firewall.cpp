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
    adapter_luids_.clear();
    if (!platform_.find_vpn_adapters(adapter_luids_)) return false;
    if (adapter_luids_.empty()) {
        log("No TAP adapters found!");
        return false;
    }
    log("Found %d TAP adapters\n", static_cast<int>(adapter_luids_.size()));

    if (OpenCloseEngine(true) != kFilterOk) return false;
    log("firewall interface created");
    if (AddRemoveSubLayer(true) != kFilterOk) return false;
    log("firewall interface binded");

    const uint32_t block = AddRemoveBlockAllFilter(true);
    log_group(block, "AddRemoveBlockAllFilter ok", "AddRemoveBlockAllFilter failed");
    log_group(AddRemoveTapFilter2(true), "AddRemoveTapFilter2 ok", "AddRemoveTapFilter2 failed");
    log_group(AddRemovePermitRangeIPsFilter(true), "AddRemovePermitRangeIPsFilter ok",
              "AddRemovePermitRangeIPsFilter failed");
    log_group(AddRemovePermitIPsFilter(true), "AddRemovePermitIPsFilter ok",
              "AddRemovePermitIPsFilter failed");
    // A failed permit group only blocks more; without the block-all filters nothing is
    // blocked at all, and that must not be reported as a started kill switch.
    return block == kFilterOk;
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
