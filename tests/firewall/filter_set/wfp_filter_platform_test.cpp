// The WFP platform: each call of the filter set turned into the exact WFP objects (through a
// recording stand-in), and the real engine's failure path as Wine shows it. What the set is
// made of is the portable test's business.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "firewall/filter_set/wfp_filter_platform_win.h"
#include "tests/firewall/support/recording_wfp_api_win.h"
#include "tests/support/log_capture.h"

namespace quietway {
namespace {

using testing::LogCapture;
using testing::RecordedFilter;
using testing::RecordingWfpApi;

bool same(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

GUID documented(const char* text) {
    GUID guid{};
    EXPECT_EQ(UuidFromStringA(reinterpret_cast<RPC_CSTR>(const_cast<char*>(text)), &guid),
              RPC_S_OK);
    return guid;
}

SublayerKey recorded_key() {
    SublayerKey key;
    std::memcpy(key.bytes, &RecordingWfpApi::kSublayerKey, sizeof key.bytes);
    return key;
}

TEST(WfpConstants, MatchTheirDocumentedValues) {
    EXPECT_TRUE(
        same(FWPM_LAYER_ALE_AUTH_CONNECT_V4, documented("c38d57d1-05a7-4c33-904f-7fbceee60e82")));
    EXPECT_TRUE(
        same(FWPM_LAYER_ALE_AUTH_CONNECT_V6, documented("4a72393b-319f-44bc-84c3-ba54dcb3b6b4")));
    EXPECT_TRUE(same(FWPM_CONDITION_IP_LOCAL_INTERFACE,
                     documented("4cd62a49-59c3-4969-b7f3-bda5d32890a4")));
    EXPECT_TRUE(
        same(FWPM_CONDITION_IP_LOCAL_ADDRESS, documented("d9ee00de-c1ef-4617-bfe3-ffd8f5a08957")));
    EXPECT_TRUE(
        same(FWPM_CONDITION_IP_REMOTE_ADDRESS, documented("b235ae9a-1d64-49b8-a44c-5ff3d9095045")));
    EXPECT_EQ(FWPM_SESSION_FLAG_DYNAMIC, 1u);
}

const char* name_of(const GUID& key) {
    const std::pair<GUID, const char*> names[] = {{FWPM_LAYER_ALE_AUTH_CONNECT_V4, "v4"},
                                                  {FWPM_LAYER_ALE_AUTH_CONNECT_V6, "v6"},
                                                  {FWPM_CONDITION_IP_LOCAL_INTERFACE, "interface"},
                                                  {FWPM_CONDITION_IP_LOCAL_ADDRESS, "local"},
                                                  {FWPM_CONDITION_IP_REMOTE_ADDRESS, "remote"}};
    for (const auto& [guid, name] : names) {
        if (same(guid, key)) return name;
    }
    return "?";
}

std::string value_of(const testing::RecordedCondition& c) {
    char text[64] = "?";
    if (c.match == FWP_MATCH_EQUAL && c.type == FWP_UINT64) {
        std::snprintf(text, sizeof text, "=%llx", static_cast<unsigned long long>(c.uint64));
    } else if (c.match == FWP_MATCH_RANGE && c.type == FWP_RANGE_TYPE && c.low_type == FWP_UINT32 &&
               c.high_type == FWP_UINT32) {
        std::snprintf(text, sizeof text, "=%08x-%08x", c.low, c.high);
    } else if (c.match == FWP_MATCH_EQUAL && c.type == FWP_V4_ADDR_MASK) {
        std::snprintf(text, sizeof text, "=%08x/%08x", c.v4_address, c.v4_mask);
    }
    return text;
}

// A recorded filter in words: layer, action, weight and conditions; "extra" when anything
// else is set (key, description, flags, provider, context or security descriptor).
std::string describe(const RecordedFilter& f) {
    std::string text = name_of(f.layer);
    text += f.action == FWP_ACTION_BLOCK    ? " block"
            : f.action == FWP_ACTION_PERMIT ? " permit"
                                            : " ?";
    text += f.weight_type == FWP_UINT8   ? " w" + std::to_string(f.weight)
            : f.weight_type == FWP_EMPTY ? " w-"
                                         : " w?";
    for (const testing::RecordedCondition& c : f.conditions) {
        text += std::string(" ") + name_of(c.field) + value_of(c);
    }
    if (!same(f.filter_key, GUID{}) || f.has_description || f.flags != 0 || f.has_provider ||
        f.provider_data_size != 0 || f.raw_context != 0 || f.has_security_descriptor)
        text += " extra";
    return text;
}

class WfpPlatformTest : public ::testing::Test {
protected:
    WfpPlatformTest() : platform_(api_) {}

    LogCapture log_;
    RecordingWfpApi api_;
    WfpFilterPlatform platform_;
    EngineHandle engine_ = RecordingWfpApi::kEngine;
};

// A filter of the sublayer; weight -1: the platform chooses. `value` is the interface LUID or
// the address, `high` a range's high bound.
FilterRecord filter(FilterLayer layer, FilterAction action, int weight,
                    FilterField field = FilterField::none, FilterMatch match = FilterMatch::equal,
                    uint64_t value = 0, uint32_t high = 0) {
    const bool weighted = weight >= 0;
    return {L"QuietwayFirewall",
            recorded_key(),
            layer,
            field,
            match,
            value,
            static_cast<uint32_t>(value),
            high,
            action,
            weighted,
            static_cast<uint8_t>(weighted ? weight : 0)};
}

// Every kind of filter of the set, one at a time.
TEST_F(WfpPlatformTest, EachFilterBecomesOneWfpFilterOfTheSublayer) {
    constexpr auto v4 = FilterLayer::connect_v4;
    constexpr auto v6 = FilterLayer::connect_v6;
    constexpr auto block = FilterAction::block;
    constexpr auto permit = FilterAction::permit;
    constexpr auto local = FilterField::local_address;
    constexpr auto remote = FilterField::remote_address;
    constexpr auto equal = FilterMatch::equal;
    constexpr auto range = FilterMatch::range;
    const std::pair<FilterRecord, const char*> cases[] = {
        {filter(v4, block, 0), "v4 block w0"},
        {filter(v6, block, 0), "v6 block w0"},
        {filter(v6, permit, -1, FilterField::local_interface, equal, 0x0006000000000005),
         "v6 permit w- interface=6000000000005"},
        {filter(v4, permit, 15, local, range, 0x0A000000, 0x0A00FEFF),
         "v4 permit w15 local=0a000000-0a00feff"},
        {filter(v4, permit, 15, remote, range, 0xC0A80001, 0xC0A8FEFF),
         "v4 permit w15 remote=c0a80001-c0a8feff"},
        {filter(v4, permit, 15, remote, equal, 0xCB007107),
         "v4 permit w15 remote=cb007107/ffffffff"},
        {filter(v4, permit, 15, local, equal, 0x7F000001), "v4 permit w15 local=7f000001/ffffffff"},
    };
    for (const auto& [record, expected] : cases) {
        SCOPED_TRACE(expected);
        uint64_t id = 0;
        ASSERT_EQ(platform_.add_filter(engine_, record, id), 0u);
        const RecordedFilter& added = api_.filters.back();
        EXPECT_EQ(describe(added), expected);
        EXPECT_EQ(added.name, L"QuietwayFirewall");
        EXPECT_TRUE(same(added.sublayer, RecordingWfpApi::kSublayerKey));
        EXPECT_EQ(id, added.id);
    }
}

TEST_F(WfpPlatformTest, TheEngineIsADynamicSessionOpenedLocally) {
    EngineHandle engine = nullptr;
    ASSERT_EQ(platform_.open_engine(engine), 0u);
    EXPECT_EQ(engine, RecordingWfpApi::kEngine);
    EXPECT_EQ(api_.server_name, nullptr);
    EXPECT_EQ(api_.authn_service, static_cast<UINT32>(RPC_C_AUTHN_WINNT));
    EXPECT_FALSE(api_.had_auth_identity);
    FWPM_SESSION0 expected_session;
    std::memset(&expected_session, 0, sizeof expected_session);
    expected_session.flags = FWPM_SESSION_FLAG_DYNAMIC;
    EXPECT_EQ(std::memcmp(&api_.session, &expected_session, sizeof expected_session), 0);

    EXPECT_EQ(platform_.close_engine(engine), 0u);
    EXPECT_EQ(api_.closed_engines, std::vector<HANDLE>{RecordingWfpApi::kEngine});
}

TEST_F(WfpPlatformTest, TheSublayerIsAddedAsGivenAndDeletedByItsKey) {
    SublayerKey key;
    ASSERT_TRUE(platform_.create_sublayer_key(key));
    EXPECT_EQ(key, recorded_key());
    ASSERT_EQ(
        platform_.add_sublayer(engine_, {key, L"QuietwayFirewall", L"Its description", 0, 0x100}),
        0u);
    ASSERT_EQ(api_.sublayers.size(), 1u);
    const testing::RecordedSublayer& sublayer = api_.sublayers[0];
    EXPECT_TRUE(same(sublayer.key, RecordingWfpApi::kSublayerKey));
    EXPECT_EQ(sublayer.name, L"QuietwayFirewall");
    EXPECT_EQ(sublayer.description, L"Its description");
    EXPECT_EQ(sublayer.flags, 0);
    EXPECT_EQ(sublayer.weight, 0x100);
    EXPECT_FALSE(sublayer.has_provider);
    EXPECT_FALSE(sublayer.has_security_descriptor);

    EXPECT_EQ(platform_.delete_sublayer(engine_, key), 0u);
    ASSERT_EQ(api_.deleted_sublayers.size(), 1u);
    EXPECT_TRUE(same(api_.deleted_sublayers[0], RecordingWfpApi::kSublayerKey));
}

TEST_F(WfpPlatformTest, SublayerKeyThatCannotBeCreatedIsRefused) {
    api_.uuid_status = RPC_S_UUID_NO_ADDRESS;
    SublayerKey key;
    EXPECT_FALSE(platform_.create_sublayer_key(key));
    EXPECT_TRUE(log_.contains("UuidCreate failed with error: ")) << log_.text();
}

// A read-write transaction of the session; what is added in it exists once it commits.
TEST_F(WfpPlatformTest, TransactionsAndDeletionsReachTheEngineAsCalled) {
    uint64_t id = 0;
    ASSERT_EQ(platform_.begin_transaction(engine_), 0u);
    ASSERT_EQ(platform_.add_filter(engine_, FilterRecord{}, id), 0u);
    EXPECT_TRUE(api_.committed_filters.empty());
    ASSERT_EQ(platform_.commit_transaction(engine_), 0u);
    EXPECT_EQ(api_.committed_filters, std::vector<UINT64>{id});
    ASSERT_EQ(platform_.begin_transaction(engine_), 0u);
    ASSERT_EQ(platform_.abort_transaction(engine_), 0u);
    EXPECT_EQ(api_.sequence,
              (std::vector<std::string>{"begin 0", "add filter", "commit", "begin 0", "abort"}));

    EXPECT_EQ(platform_.delete_filter(engine_, id), 0u);
    EXPECT_EQ(api_.deleted_filters, std::vector<UINT64>{id});
}

TEST_F(WfpPlatformTest, AFailedCallIsLoggedAndAnswersItsError) {
    api_.failing_filter_add = 0;
    uint64_t id = 0;
    EXPECT_EQ(platform_.add_filter(engine_, FilterRecord{}, id),
              static_cast<uint32_t>(FWP_E_INVALID_PARAMETER));
    EXPECT_EQ(id, 0u);
    EXPECT_TRUE(log_.contains("FwpmFilterAdd0 failed with error: 2150760501")) << log_.text();
    EXPECT_EQ(platform_.commit_transaction(engine_),
              static_cast<uint32_t>(FWP_E_NO_TXN_IN_PROGRESS));
    EXPECT_TRUE(log_.contains("FwpmTransactionCommit0 failed with error: ")) << log_.text();
}

TEST_F(WfpPlatformTest, VpnAdaptersAreFoundByDescriptionInAHeapBufferOfTheSizeAskedFor) {
    api_.adapters = {{"Intel(R) Ethernet Connection", 3},
                     {"TAP-Windows Adapter V9", 5},
                     {"Viscosity Virtual Adapter #2", 9},
                     {"TAP-Windows Adapter V9 #2", 11}};
    api_.failing_luid_index = 11;  // its LUID cannot be found: skipped
    std::vector<uint64_t> luids;
    ASSERT_EQ(platform_.find_vpn_adapters(luids), 0u);
    EXPECT_EQ(luids,
              (std::vector<uint64_t>{RecordingWfpApi::luid_of(5), RecordingWfpApi::luid_of(9)}));
    const ULONG needed = static_cast<ULONG>(4 * sizeof(IP_ADAPTER_INFO));
    EXPECT_EQ(api_.adapter_query_sizes, (std::vector<ULONG>{648, needed}));
    EXPECT_EQ(api_.allocations, (std::vector<size_t>{648, needed}));
    EXPECT_EQ(api_.frees, 2);
}

TEST_F(WfpPlatformTest, FailedAllocationFailsTheAdapterSearch) {
    api_.adapters = {{"TAP-Windows Adapter V9", 5}, {"TAP-Windows Adapter V9 #2", 6}};
    api_.failing_alloc = 1;  // the one of the size asked for
    std::vector<uint64_t> luids;
    EXPECT_EQ(platform_.find_vpn_adapters(luids), static_cast<uint32_t>(ERROR_NOT_ENOUGH_MEMORY));
    EXPECT_TRUE(luids.empty());
    EXPECT_TRUE(log_.contains("Error allocating memory needed to call GetAdaptersinfo"));
    EXPECT_EQ(api_.frees, 1);
}

TEST_F(WfpPlatformTest, FailedAdapterQueryMeansNoAdapters) {
    api_.adapters = {{"TAP-Windows Adapter V9", 5}};
    api_.adapters_status = ERROR_NO_DATA;
    std::vector<uint64_t> luids;
    EXPECT_EQ(platform_.find_vpn_adapters(luids), 0u);
    EXPECT_TRUE(luids.empty());
    EXPECT_TRUE(log_.contains("GetAdaptersInfo failed with error: 232\n")) << log_.text();
}

// The system's own calls, as Wine answers them: an adapter list without a TAP adapter, and
// an engine that does not open.
TEST(WfpSystem, TheAdapterListIsReadWithoutError) {
    LogCapture log;
    WfpFilterPlatform platform;
    std::vector<uint64_t> luids;
    EXPECT_EQ(platform.find_vpn_adapters(luids), 0u);
    EXPECT_FALSE(log.contains("GetAdaptersinfo")) << log.text();
    EXPECT_FALSE(log.contains("GetAdaptersInfo failed")) << log.text();
}

TEST(WfpSystem, EngineThatCannotOpenIsLogged) {
    LogCapture log;
    WfpFilterPlatform platform;
    EngineHandle engine = nullptr;
    const uint32_t status = platform.open_engine(engine);
    if (status == 0) {
        platform.close_engine(engine);
        GTEST_SKIP() << "this machine has a working filter engine";
    }
    EXPECT_EQ(engine, nullptr);
    EXPECT_TRUE(log.contains("FwpmEngineOpen0 failed with error: " + std::to_string(status)))
        << log.text();
}

}  // namespace
}  // namespace quietway
