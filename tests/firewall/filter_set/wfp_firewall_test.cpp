#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "common/store/store.h"
#include "common/store/store_admin.h"
#include "firewall/filter_set/wfp_firewall.h"
#include "tests/firewall/support/recording_filter_platform.h"
#include "tests/support/log_capture.h"
#include "tests/support/store_fixture.h"

namespace quietway {
namespace {

using testing::LogCapture;
using testing::PlatformCall;
using testing::RecordingFilterPlatform;
using Kind = PlatformCall::Kind;

class WfpFirewallTest : public ::testing::Test {
protected:
    WfpFirewallTest() { platform_.adapters = {0x1111, 0x2222}; }

    std::vector<PlatformCall> filters_added() const { return platform_.of_kind(Kind::add_filter); }

    LogCapture log_;
    RecordingFilterPlatform platform_;
};

// One line per filter: layer, condition, action, weight and display name.
std::string describe(const PlatformCall& call) {
    const FilterRecord& f = call.filter;
    std::string text = f.layer == FilterLayer::connect_v4 ? "v4 " : "v6 ";
    char value[64];
    switch (f.field) {
        case FilterField::none:
            text += "all";
            break;
        case FilterField::local_interface:
            std::snprintf(value, sizeof value, "interface=%llx",
                          static_cast<unsigned long long>(f.interface_luid));
            text += value;
            break;
        case FilterField::local_address:
        case FilterField::remote_address:
            text += f.field == FilterField::local_address ? "local" : "remote";
            std::snprintf(value, sizeof value,
                          f.match == FilterMatch::range ? "%08x-%08x" : "=%08x", f.address,
                          f.address_high);
            text += value;
            break;
    }
    text += f.action == FilterAction::permit ? " permit" : " block";
    text += f.weighted ? " w" + std::to_string(f.weight) : " w-";
    text += " " + std::string(call.name.begin(), call.name.end());
    return text;
}

TEST_F(WfpFirewallTest, StartBuildsTheWholeSetInOrder) {
    WfpFirewall firewall(platform_);
    firewall.AddPermitIP("203.0.113.7", kPermitRemoteAddress);
    firewall.AddPermitIP("127.0.0.1", kPermitLocalAddress);
    ASSERT_TRUE(firewall.StartFirewall());

    // One transaction from the sublayer to the last filter.
    const std::vector<Kind> kinds = platform_.kinds();
    ASSERT_GE(kinds.size(), 5u);
    EXPECT_EQ(std::vector<Kind>(kinds.begin(), kinds.begin() + 5),
              (std::vector<Kind>{Kind::find_adapters, Kind::open_engine, Kind::begin,
                                 Kind::create_key, Kind::add_sublayer}));
    EXPECT_EQ(kinds.back(), Kind::commit);
    EXPECT_TRUE(platform_.of_kind(Kind::abort).empty());
    EXPECT_EQ(platform_.live_filters.size(), 10u);
    EXPECT_EQ(firewall.start_status(), 0u);
    const PlatformCall sublayer = platform_.of_kind(Kind::add_sublayer).at(0);
    EXPECT_EQ(sublayer.name, L"QuietwayFirewall");
    EXPECT_EQ(sublayer.description, L"QuietwayFirewall");
    EXPECT_EQ(sublayer.sublayer.weight, 0x100);
    EXPECT_EQ(sublayer.sublayer.flags, 0);
    EXPECT_EQ(firewall.sublayer_key(), sublayer.sublayer.key);
    EXPECT_EQ(sublayer.sublayer.key.bytes[0], RecordingFilterPlatform::kKeyByte);

    const std::string range = "Quietway filter to permit traffic from local vpn IPs range ...";
    const std::string permit = "Quietway filter to permit traffic to ...";
    const std::vector<std::string> expected = {"v4 all block w0 QuietwayFirewall",
                                               "v6 all block w0 QuietwayFirewall",
                                               "v4 interface=1111 permit w- QuietwayFirewall",
                                               "v6 interface=1111 permit w- QuietwayFirewall",
                                               "v4 interface=2222 permit w- QuietwayFirewall",
                                               "v6 interface=2222 permit w- QuietwayFirewall",
                                               "v4 local0a000000-0a00feff permit w15 " + range,
                                               "v4 remotec0a80001-c0a8feff permit w15 " + range,
                                               "v4 remote=cb007107 permit w15 " + permit,
                                               "v4 local=7f000001 permit w15 " + permit};
    const std::vector<PlatformCall> added = filters_added();
    std::vector<std::string> described;
    for (const PlatformCall& call : added) {
        described.push_back(describe(call));
        EXPECT_EQ(call.filter.sublayer, firewall.sublayer_key());
        EXPECT_EQ(call.engine, RecordingFilterPlatform::kEngine);
    }
    ASSERT_EQ(described, expected);

    // Each permit entry remembers the id of its own filter, the two adapters two ids each; the
    // adapter list is emptied once their filters are made.
    EXPECT_EQ(firewall.permit_list().front().filter_id, added[8].id);
    EXPECT_EQ(firewall.permit_list().back().filter_id, added[9].id);
    EXPECT_EQ(firewall.adapter_filter_ids(),
              (std::vector<uint64_t>{added[2].id, added[3].id, added[4].id, added[5].id}));
    EXPECT_TRUE(firewall.adapter_luids().empty());

    EXPECT_TRUE(log_.contains_in_order(
        {"Found 2 TAP adapters\n", "firewall interface created", "firewall interface binded",
         "before adding filter", "after adding filter", "before adding filter IPv6",
         "after adding filter", "AddRemoveBlockAllFilter ok",
         "Filter (Permit all IPv4 traffic from TAP) added with ID=" + std::to_string(added[2].id) +
             "\r\n",
         "Filter (Permit all IPv6 traffic from TAP) added with ID=" + std::to_string(added[3].id) +
             "\r\n",
         "Filter (Permit all IPv4 traffic from TAP) added with ID=" + std::to_string(added[4].id) +
             "\r\n",
         "AddRemoveTapFilter2 ok", "AddRemovePermitRangeIPsFilter ok",
         "AddRemovePermitIPsFilter ok"}))
        << log_.text();
}

TEST_F(WfpFirewallTest, AddressesThatDoNotParseGetNoFilter) {
    WfpFirewall firewall(platform_);
    firewall.AddPermitIP(nullptr, kPermitRemoteAddress);
    firewall.AddPermitIP("1.2.3.4.5", kPermitRemoteAddress);
    firewall.AddPermitIP("", kPermitRemoteAddress);
    firewall.AddPermitIP("10.0.0.1", kPermitRemoteAddress);
    ASSERT_EQ(firewall.permit_list().size(), 3u);  // the null text is ignored
    EXPECT_EQ(firewall.permit_list().front().address, 0u);

    ASSERT_TRUE(firewall.StartFirewall());
    const std::vector<PlatformCall> added = filters_added();
    ASSERT_EQ(added.size(), 9u);
    EXPECT_EQ(added.back().filter.address, 0x0A000001u);
    EXPECT_EQ(firewall.permit_list().front().filter_id, 0u);
}

TEST_F(WfpFirewallTest, NoVpnAdapterInstallsNothing) {
    platform_.adapters.clear();
    WfpFirewall firewall(platform_);
    firewall.AddPermitIP("10.0.0.1", kPermitRemoteAddress);
    EXPECT_FALSE(firewall.StartFirewall());
    EXPECT_EQ(firewall.start_status(), 22u);
    EXPECT_EQ(platform_.kinds(), std::vector<Kind>{Kind::find_adapters});
    EXPECT_TRUE(firewall.permit_list().empty()) << "a later start would permit it too";
    EXPECT_TRUE(log_.contains("No TAP adapters found!"));
    EXPECT_FALSE(log_.contains("firewall interface created"));
}

TEST_F(WfpFirewallTest, UnreadableAdapterListFailsWithoutTheNoAdapterLine) {
    platform_.adapter_list_status = 12;
    WfpFirewall firewall(platform_);
    EXPECT_FALSE(firewall.StartFirewall());
    EXPECT_EQ(firewall.start_status(), 12u);
    EXPECT_EQ(platform_.kinds(), std::vector<Kind>{Kind::find_adapters});
    EXPECT_FALSE(log_.contains("No TAP adapters found!"));
}

TEST_F(WfpFirewallTest, EngineThatCannotOpenFailsTheStart) {
    platform_.open_status = 1764;
    WfpFirewall firewall(platform_);
    EXPECT_FALSE(firewall.StartFirewall());
    EXPECT_EQ(firewall.start_status(), 1764u);
    EXPECT_FALSE(firewall.engine_open());
    EXPECT_EQ(platform_.kinds(), (std::vector<Kind>{Kind::find_adapters, Kind::open_engine}));
    EXPECT_TRUE(log_.contains("Found 2 TAP adapters"));
    EXPECT_FALSE(log_.contains("firewall interface created"));
}

TEST_F(WfpFirewallTest, FailedSublayerAddsNoFilter) {
    platform_.add_sublayer_status = 0x80320009;
    WfpFirewall firewall(platform_);
    EXPECT_FALSE(firewall.StartFirewall());
    EXPECT_EQ(firewall.start_status(), 0x80320009u);
    EXPECT_TRUE(firewall.sublayer_key().is_zero());
    EXPECT_TRUE(filters_added().empty());
    EXPECT_TRUE(log_.contains("firewall interface created"));
    EXPECT_FALSE(log_.contains("firewall interface binded"));
}

TEST_F(WfpFirewallTest, KeyCreationFailureIsTwentyTwo) {
    platform_.key_created = false;
    WfpFirewall firewall(platform_);
    ASSERT_EQ(firewall.OpenCloseEngine(true), 0u);
    EXPECT_EQ(firewall.AddRemoveSubLayer(true), 22u);
    EXPECT_TRUE(platform_.of_kind(Kind::add_sublayer).empty());
}

// Any failed add is logged with its group, every other group is still tried and logged,
// and then the whole set is aborted: nothing is committed, and the start reports the
// first failure.
TEST_F(WfpFirewallTest, AFailedAddAbortsTheWholeSet) {
    struct Case {
        const char* failing;
        std::function<bool(const FilterRecord&)> fails;
        std::vector<const char*> lines;
    };
    const std::vector<Case> cases = {
        {"IPv4 block",
         [](const FilterRecord& f) {
             return f.action == FilterAction::block && f.layer == FilterLayer::connect_v4;
         },
         {"AddRemoveBlockAllFilter failed", "AddRemoveTapFilter2 ok",
          "AddRemovePermitRangeIPsFilter ok", "AddRemovePermitIPsFilter ok"}},
        {"IPv6 adapter",
         [](const FilterRecord& f) {
             return f.field == FilterField::local_interface && f.layer == FilterLayer::connect_v6;
         },
         {"AddRemoveBlockAllFilter ok", "AddRemoveTapFilter2 failed",
          "AddRemovePermitRangeIPsFilter ok", "AddRemovePermitIPsFilter ok"}},
        {"permit entry",
         [](const FilterRecord& f) {
             return f.field == FilterField::remote_address && f.match == FilterMatch::equal;
         },
         {"AddRemoveBlockAllFilter ok", "AddRemoveTapFilter2 ok",
          "AddRemovePermitRangeIPsFilter ok", "AddRemovePermitIPsFilter failed"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.failing);
        RecordingFilterPlatform platform;
        platform.adapters = {0x1111};
        platform.add_filter_status = [&c](const FilterRecord& f) { return c.fails(f) ? 5u : 0u; };
        LogCapture log;
        WfpFirewall firewall(platform);
        firewall.AddPermitIP("203.0.113.7", kPermitRemoteAddress);
        firewall.AddPermitIP("127.0.0.1", kPermitLocalAddress);

        EXPECT_FALSE(firewall.StartFirewall());
        EXPECT_EQ(firewall.start_status(), 5u);
        EXPECT_TRUE(log.contains_in_order({c.lines[0], c.lines[1], c.lines[2], c.lines[3]}))
            << log.text();
        EXPECT_TRUE(platform.of_kind(Kind::commit).empty());
        EXPECT_TRUE(platform.live_filters.empty());
        // A filter that failed is not logged as added.
        EXPECT_EQ(log.contains("Permit all IPv6 traffic from TAP"),
                  std::string(c.failing) != "IPv6 adapter");

        EXPECT_TRUE(firewall.adapter_filter_ids().empty());
        EXPECT_TRUE(firewall.sublayer_key().is_zero());
        EXPECT_TRUE(firewall.permit_list().empty());
        EXPECT_TRUE(platform.of_kind(Kind::delete_filter).empty());
        EXPECT_FALSE(platform.engine_is_open);
    }
}

TEST_F(WfpFirewallTest, TransactionThatCannotBeginOrCommitFailsTheStart) {
    for (const bool begin_fails : {true, false}) {
        RecordingFilterPlatform platform;
        platform.adapters = {0x1111};
        (begin_fails ? platform.begin_status : platform.commit_status) = 0x80320017;
        WfpFirewall firewall(platform);
        firewall.AddPermitIP("203.0.113.7", kPermitRemoteAddress);
        EXPECT_FALSE(firewall.StartFirewall());
        EXPECT_EQ(firewall.start_status(), 0x80320017u);
        EXPECT_EQ(platform.of_kind(Kind::add_sublayer).empty(), begin_fails);
        EXPECT_EQ(platform.of_kind(Kind::abort).size(), begin_fails ? 0u : 1u);
        EXPECT_TRUE(platform.live_filters.empty());
    }
}

TEST_F(WfpFirewallTest, StopRemovesEverythingInOrderAndEmptiesThePermitList) {
    WfpFirewall firewall(platform_);
    firewall.AddPermitIP("203.0.113.7", kPermitRemoteAddress);
    ASSERT_TRUE(firewall.StartFirewall());
    const std::vector<PlatformCall> added = filters_added();
    const size_t start_calls = platform_.calls.size();

    EXPECT_TRUE(firewall.StopFirewall());
    std::vector<uint64_t> deleted;
    std::vector<Kind> tail;
    for (size_t i = start_calls; i < platform_.calls.size(); ++i) {
        const PlatformCall& call = platform_.calls[i];
        if (call.kind == Kind::delete_filter)
            deleted.push_back(call.id);
        else
            tail.push_back(call.kind);
    }
    // Block filters, adapter filters, range filters, permit filters: the order they went in.
    std::vector<uint64_t> expected;
    for (const PlatformCall& call : added) expected.push_back(call.id);
    EXPECT_EQ(deleted, expected);
    EXPECT_EQ(tail, (std::vector<Kind>{Kind::delete_sublayer, Kind::close_engine}));
    EXPECT_EQ(platform_.of_kind(Kind::delete_sublayer).at(0).key.bytes[0],
              RecordingFilterPlatform::kKeyByte);

    EXPECT_TRUE(platform_.live_filters.empty());
    EXPECT_TRUE(firewall.permit_list().empty());
    EXPECT_TRUE(firewall.adapter_filter_ids().empty());
    EXPECT_TRUE(firewall.sublayer_key().is_zero());
    EXPECT_FALSE(firewall.engine_open());
}

TEST_F(WfpFirewallTest, StoppingASetThatNeverStartedChangesNothing) {
    WfpFirewall firewall(platform_);
    firewall.AddPermitIP("10.0.0.1", kPermitRemoteAddress);
    EXPECT_FALSE(firewall.StopFirewall());
    EXPECT_TRUE(platform_.calls.empty());
    EXPECT_EQ(firewall.permit_list().size(), 1u);
}

TEST_F(WfpFirewallTest, FailedSublayerDeletionStillClosesTheEngine) {
    WfpFirewall firewall(platform_);
    ASSERT_TRUE(firewall.StartFirewall());
    platform_.delete_sublayer_status = 0x80320007;
    EXPECT_FALSE(firewall.StopFirewall());
    EXPECT_FALSE(platform_.engine_is_open);
}

TEST_F(WfpFirewallTest, ANewStartNeedsItsAddressesAgain) {
    WfpFirewall firewall(platform_);
    firewall.AddPermitIP("203.0.113.7", kPermitRemoteAddress);
    ASSERT_TRUE(firewall.StartFirewall());
    ASSERT_TRUE(firewall.StopFirewall());
    platform_.calls.clear();

    ASSERT_TRUE(firewall.StartFirewall());
    EXPECT_EQ(filters_added().size(), 8u);  // no permit filter
    EXPECT_TRUE(log_.contains("AddRemovePermitIPsFilter failed"));
}

TEST_F(WfpFirewallTest, StartingTwiceDoesNotOpenASecondEngine) {
    WfpFirewall firewall(platform_);
    ASSERT_TRUE(firewall.StartFirewall());
    EXPECT_FALSE(firewall.StartFirewall());
    EXPECT_EQ(firewall.start_status(), 22u);
    EXPECT_EQ(platform_.of_kind(Kind::open_engine).size(), 1u);
    EXPECT_EQ(firewall.OpenCloseEngine(true), 22u);
}

TEST_F(WfpFirewallTest, DestroyingARunningSetRemovesIt) {
    {
        WfpFirewall firewall(platform_);
        ASSERT_TRUE(firewall.StartFirewall());
        EXPECT_FALSE(platform_.live_filters.empty());
    }
    EXPECT_TRUE(platform_.live_filters.empty());
    EXPECT_FALSE(platform_.engine_is_open);
    EXPECT_EQ(platform_.of_kind(Kind::delete_sublayer).size(), 1u);
}

TEST_F(WfpFirewallTest, OperationsWithoutAnOpenEngineAnswerTwentyTwo) {
    WfpFirewall firewall(platform_);
    firewall.AddPermitIP("10.0.0.1", kPermitRemoteAddress);
    for (bool add : {true, false}) {
        EXPECT_EQ(firewall.AddRemoveSubLayer(add), 22u);
        EXPECT_EQ(firewall.AddRemoveBlockAllFilter(add), 22u);
        EXPECT_EQ(firewall.AddRemoveTapFilter2(add), 22u);
        EXPECT_EQ(firewall.AddRemovePermitRangeIPsFilter(add), 22u);
        EXPECT_EQ(firewall.AddRemovePermitIPsFilter(add), 22u);
    }
    EXPECT_EQ(firewall.OpenCloseEngine(false), 22u);
    EXPECT_TRUE(platform_.calls.empty());
}

TEST_F(WfpFirewallTest, NothingToDoIsTwentyTwoWithAnOpenEngine) {
    WfpFirewall firewall(platform_);
    ASSERT_EQ(firewall.OpenCloseEngine(true), 0u);
    EXPECT_EQ(firewall.AddRemovePermitIPsFilter(true), 22u);  // empty permit list
    EXPECT_EQ(firewall.AddRemoveTapFilter2(true), 22u);       // no adapters found yet
    EXPECT_EQ(firewall.AddRemoveBlockAllFilter(false), 22u);  // nothing recorded
    EXPECT_EQ(firewall.AddRemoveSubLayer(false), 22u);
    EXPECT_EQ(firewall.OpenCloseEngine(false), 0u);
}

class InitFirewallTest : public ::testing::Test {
protected:
    testing::TempStore store_;
    RecordingFilterPlatform platform_;
};

TEST_F(InitFirewallTest, NeedsTheInstallationDirectory) {
    WfpFirewall firewall(platform_);
    EXPECT_FALSE(firewall.InitFirewall());
    ASSERT_TRUE(create_reg_string(RootKey::local_machine, "SOFTWARE\\Quietway2\\app", "app_dir",
                                  "C:\\Program Files\\Quietway"));
    EXPECT_TRUE(firewall.InitFirewall());
    EXPECT_TRUE(platform_.calls.empty());
}

}  // namespace
}  // namespace quietway
