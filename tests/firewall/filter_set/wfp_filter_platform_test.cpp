// The filter set on WFP: the exact objects it hands to the engine (through a recording
// stand-in), and the real engine's failure path as Wine shows it.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "firewall/filter_set/wfp_filter_platform_win.h"
#include "firewall/filter_set/wfp_firewall.h"
#include "tests/firewall/support/recording_wfp_api_win.h"
#include "tests/support/log_capture.h"

namespace quietway {
namespace {

using testing::FakeAdapter;
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

void expect_plain(const RecordedFilter& filter) {
    EXPECT_TRUE(same(filter.filter_key, GUID{}));
    EXPECT_FALSE(filter.has_description);
    EXPECT_EQ(filter.flags, 0u);
    EXPECT_FALSE(filter.has_provider);
    EXPECT_EQ(filter.provider_data_size, 0u);
    EXPECT_EQ(filter.raw_context, 0u);
    EXPECT_FALSE(filter.has_security_descriptor);
    EXPECT_TRUE(same(filter.sublayer, RecordingWfpApi::kSublayerKey));
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

class WfpObjectsTest : public ::testing::Test {
protected:
    WfpObjectsTest() : platform_(api_) {
        api_.adapters = {{"Intel(R) Ethernet Connection", 3},
                         {"TAP-Windows Adapter V9", 5},
                         {"Viscosity Virtual Adapter #2", 9}};
    }

    LogCapture log_;
    RecordingWfpApi api_;
    WfpFilterPlatform platform_;
};

TEST_F(WfpObjectsTest, StartHandsTheEngineExactlyTheFilterSetObjects) {
    WfpFirewall firewall(platform_);
    firewall.AddPermitIP("203.0.113.7", kPermitRemoteAddress);
    firewall.AddPermitIP("127.0.0.1", kPermitLocalAddress);
    ASSERT_TRUE(firewall.StartFirewall()) << log_.text();

    // A dynamic session, opened locally with Windows authentication.
    EXPECT_EQ(api_.server_name, nullptr);
    EXPECT_EQ(api_.authn_service, static_cast<UINT32>(RPC_C_AUTHN_WINNT));
    EXPECT_FALSE(api_.had_auth_identity);
    FWPM_SESSION0 expected_session;
    std::memset(&expected_session, 0, sizeof expected_session);
    expected_session.flags = FWPM_SESSION_FLAG_DYNAMIC;
    EXPECT_EQ(std::memcmp(&api_.session, &expected_session, sizeof expected_session), 0);

    ASSERT_EQ(api_.sublayers.size(), 1u);
    const testing::RecordedSublayer& sublayer = api_.sublayers[0];
    EXPECT_TRUE(same(sublayer.key, RecordingWfpApi::kSublayerKey));
    EXPECT_EQ(sublayer.name, L"QuietwayFirewall");
    EXPECT_EQ(sublayer.description, L"QuietwayFirewall");
    EXPECT_EQ(sublayer.flags, 0);
    EXPECT_EQ(sublayer.weight, 0x100);
    EXPECT_FALSE(sublayer.has_provider);
    EXPECT_FALSE(sublayer.has_security_descriptor);

    const std::vector<RecordedFilter>& filters = api_.filters;
    ASSERT_EQ(filters.size(), 10u);
    for (const RecordedFilter& filter : filters) expect_plain(filter);

    for (int i : {0, 1}) {
        EXPECT_EQ(filters[i].name, L"QuietwayFirewall");
        EXPECT_TRUE(same(filters[i].layer,
                         i == 0 ? FWPM_LAYER_ALE_AUTH_CONNECT_V4 : FWPM_LAYER_ALE_AUTH_CONNECT_V6));
        EXPECT_EQ(filters[i].condition_count, 0u);
        EXPECT_EQ(filters[i].action, static_cast<FWP_ACTION_TYPE>(FWP_ACTION_BLOCK));
        EXPECT_EQ(filters[i].weight_type, FWP_UINT8);
        EXPECT_EQ(filters[i].weight, 0);
    }

    const UINT64 luids[] = {RecordingWfpApi::luid_of(5), RecordingWfpApi::luid_of(5),
                            RecordingWfpApi::luid_of(9), RecordingWfpApi::luid_of(9)};
    for (int i = 0; i < 4; ++i) {
        const RecordedFilter& adapter = filters[2 + i];
        EXPECT_EQ(adapter.name, L"QuietwayFirewall");
        EXPECT_TRUE(same(adapter.layer, i % 2 == 0 ? FWPM_LAYER_ALE_AUTH_CONNECT_V4
                                                   : FWPM_LAYER_ALE_AUTH_CONNECT_V6));
        EXPECT_EQ(adapter.weight_type, FWP_EMPTY);
        EXPECT_EQ(adapter.action, static_cast<FWP_ACTION_TYPE>(FWP_ACTION_PERMIT));
        ASSERT_EQ(adapter.condition_count, 1u);
        EXPECT_TRUE(same(adapter.conditions[0].field, FWPM_CONDITION_IP_LOCAL_INTERFACE));
        EXPECT_EQ(adapter.conditions[0].match, FWP_MATCH_EQUAL);
        EXPECT_EQ(adapter.conditions[0].type, FWP_UINT64);
        EXPECT_EQ(adapter.conditions[0].uint64, luids[i]);
    }

    const GUID range_fields[] = {FWPM_CONDITION_IP_LOCAL_ADDRESS, FWPM_CONDITION_IP_REMOTE_ADDRESS};
    const UINT32 range_bounds[][2] = {{0x0A000000, 0x0A00FEFF}, {0xC0A80001, 0xC0A8FEFF}};
    for (int i = 0; i < 2; ++i) {
        const RecordedFilter& range = filters[6 + i];
        EXPECT_EQ(range.name, L"Quietway filter to permit traffic from local vpn IPs range ...");
        EXPECT_TRUE(same(range.layer, FWPM_LAYER_ALE_AUTH_CONNECT_V4));
        EXPECT_EQ(range.weight_type, FWP_UINT8);
        EXPECT_EQ(range.weight, 15);
        EXPECT_EQ(range.action, static_cast<FWP_ACTION_TYPE>(FWP_ACTION_PERMIT));
        ASSERT_EQ(range.condition_count, 1u);
        EXPECT_TRUE(same(range.conditions[0].field, range_fields[i]));
        EXPECT_EQ(range.conditions[0].match, FWP_MATCH_RANGE);
        EXPECT_EQ(range.conditions[0].type, FWP_RANGE_TYPE);
        EXPECT_EQ(range.conditions[0].low_type, FWP_UINT32);
        EXPECT_EQ(range.conditions[0].low, range_bounds[i][0]);
        EXPECT_EQ(range.conditions[0].high_type, FWP_UINT32);
        EXPECT_EQ(range.conditions[0].high, range_bounds[i][1]);
    }

    const GUID permit_fields[] = {FWPM_CONDITION_IP_REMOTE_ADDRESS,
                                  FWPM_CONDITION_IP_LOCAL_ADDRESS};
    const UINT32 permit_addresses[] = {0xCB007107, 0x7F000001};
    for (int i = 0; i < 2; ++i) {
        const RecordedFilter& permit = filters[8 + i];
        EXPECT_EQ(permit.name, L"Quietway filter to permit traffic to ...");
        EXPECT_TRUE(same(permit.layer, FWPM_LAYER_ALE_AUTH_CONNECT_V4));
        EXPECT_EQ(permit.weight_type, FWP_UINT8);
        EXPECT_EQ(permit.weight, 15);
        EXPECT_EQ(permit.action, static_cast<FWP_ACTION_TYPE>(FWP_ACTION_PERMIT));
        ASSERT_EQ(permit.condition_count, 1u);
        EXPECT_TRUE(same(permit.conditions[0].field, permit_fields[i]));
        EXPECT_EQ(permit.conditions[0].match, FWP_MATCH_EQUAL);
        EXPECT_EQ(permit.conditions[0].type, FWP_V4_ADDR_MASK);
        EXPECT_EQ(permit.conditions[0].v4_address, permit_addresses[i]);
        EXPECT_EQ(permit.conditions[0].v4_mask, 0xFFFFFFFFu);
    }
    EXPECT_TRUE(log_.contains("Found 2 TAP adapters\n"));

    // All of it in one read-write transaction of the session.
    std::vector<std::string> sequence = {"begin 0", "add sublayer"};
    sequence.insert(sequence.end(), 10, "add filter");
    sequence.push_back("commit");
    EXPECT_EQ(api_.sequence, sequence);
    EXPECT_EQ(api_.committed_filters.size(), 10u);
}

TEST_F(WfpObjectsTest, AFailedAddAbortsTheTransactionAndCommitsNothing) {
    api_.failing_filter_add = 3;  // the second adapter filter
    WfpFirewall firewall(platform_);
    firewall.AddPermitIP("203.0.113.7", kPermitRemoteAddress);
    EXPECT_FALSE(firewall.StartFirewall());
    EXPECT_EQ(firewall.start_status(), static_cast<DWORD>(FWP_E_INVALID_PARAMETER));
    EXPECT_TRUE(
        log_.contains_in_order({"FwpmFilterAdd0 failed with error: 2150760501",
                                "AddRemoveTapFilter2 failed", "AddRemovePermitIPsFilter ok"}))
        << log_.text();
    // Every add is still tried, then the transaction is abandoned.
    std::vector<std::string> sequence = {"begin 0", "add sublayer"};
    sequence.insert(sequence.end(), 9, "add filter");
    sequence.push_back("abort");
    EXPECT_EQ(api_.sequence, sequence);
    EXPECT_TRUE(api_.committed_filters.empty());

    // Nothing was made, so nothing is deleted; the session still closes.
    EXPECT_FALSE(firewall.StopFirewall());
    EXPECT_TRUE(api_.deleted_filters.empty());
    EXPECT_TRUE(api_.deleted_sublayers.empty());
    EXPECT_EQ(api_.closed_engines, std::vector<HANDLE>{RecordingWfpApi::kEngine});
}

TEST_F(WfpObjectsTest, StopRemovesTheSameObjectsAndClosesTheSession) {
    WfpFirewall firewall(platform_);
    firewall.AddPermitIP("203.0.113.7", kPermitRemoteAddress);
    ASSERT_TRUE(firewall.StartFirewall());
    ASSERT_TRUE(firewall.StopFirewall());

    std::vector<UINT64> added;
    for (const RecordedFilter& filter : api_.filters) added.push_back(filter.id);
    EXPECT_EQ(api_.deleted_filters, added);
    ASSERT_EQ(api_.deleted_sublayers.size(), 1u);
    EXPECT_TRUE(same(api_.deleted_sublayers[0], RecordingWfpApi::kSublayerKey));
    EXPECT_EQ(api_.closed_engines, std::vector<HANDLE>{RecordingWfpApi::kEngine});
}

TEST_F(WfpObjectsTest, AdapterListIsReadIntoAHeapBufferOfTheSizeAskedFor) {
    api_.failing_luid_index = 9;  // its LUID cannot be found: skipped
    WfpFirewall firewall(platform_);
    ASSERT_TRUE(firewall.StartFirewall());
    const ULONG needed = static_cast<ULONG>(3 * sizeof(IP_ADAPTER_INFO));
    EXPECT_EQ(api_.adapter_query_sizes, (std::vector<ULONG>{648, needed}));
    EXPECT_EQ(api_.allocations, (std::vector<size_t>{648, needed}));
    EXPECT_EQ(api_.frees, 2);
    EXPECT_TRUE(log_.contains("Found 1 TAP adapters\n"));
    EXPECT_EQ(firewall.adapter_filter_ids().size(), 2u);
}

TEST_F(WfpObjectsTest, FailedAllocationFailsTheStart) {
    api_.failing_alloc = 1;
    WfpFirewall firewall(platform_);
    EXPECT_FALSE(firewall.StartFirewall());
    EXPECT_TRUE(log_.contains("Error allocating memory needed to call GetAdaptersinfo"));
    EXPECT_FALSE(log_.contains("No TAP adapters found!"));
    EXPECT_FALSE(api_.engine_opened);
    EXPECT_EQ(api_.frees, 1);
}

TEST_F(WfpObjectsTest, FailedAdapterQueryMeansNoAdapters) {
    api_.adapters_status = ERROR_NO_DATA;
    WfpFirewall firewall(platform_);
    EXPECT_FALSE(firewall.StartFirewall());
    EXPECT_TRUE(log_.contains_in_order(
        {"GetAdaptersInfo failed with error: 232\n", "No TAP adapters found!"}));
    EXPECT_FALSE(api_.engine_opened);
}

TEST_F(WfpObjectsTest, SublayerKeyThatCannotBeCreatedAddsNoSublayer) {
    api_.uuid_status = RPC_S_UUID_NO_ADDRESS;
    WfpFirewall firewall(platform_);
    EXPECT_FALSE(firewall.StartFirewall());
    EXPECT_TRUE(api_.sublayers.empty());
    EXPECT_FALSE(log_.contains("firewall interface binded"));
}

// The system's own calls, with one TAP adapter made up so that the engine is reached.
class SystemCallsWithATapAdapter : public SystemWfpApi {
public:
    ULONG get_adapters_info(IP_ADAPTER_INFO* info, ULONG* size) override {
        if (*size < sizeof(IP_ADAPTER_INFO)) {
            *size = sizeof(IP_ADAPTER_INFO);
            return ERROR_BUFFER_OVERFLOW;
        }
        std::memset(info, 0, sizeof *info);
        std::strcpy(info->Description, "TAP-Windows Adapter V9 #3");
        info->Index = 1;
        return NO_ERROR;
    }
    DWORD convert_interface_index_to_luid(NET_IFINDEX, NET_LUID* luid) override {
        luid->Value = 0x0006000000000001ull;
        return NO_ERROR;
    }
};

TEST(WfpSystem, WithoutATapAdapterNothingIsInstalled) {
    LogCapture log;
    WfpFirewall firewall;
    firewall.AddPermitIP("127.0.0.1", kPermitLocalAddress);
    if (!firewall.StartFirewall()) {
        EXPECT_TRUE(log.contains("No TAP adapters found!")) << log.text();
        EXPECT_FALSE(log.contains("firewall interface created"));
        EXPECT_FALSE(firewall.engine_open());
    } else {
        GTEST_SKIP() << "this machine has a TAP adapter and a working filter engine";
    }
}

TEST(WfpSystem, EngineThatCannotOpenFailsTheStart) {
    LogCapture log;
    SystemCallsWithATapAdapter api;
    WfpFilterPlatform platform(api);
    WfpFirewall firewall(platform);
    firewall.AddPermitIP("127.0.0.1", kPermitLocalAddress);
    const bool started = firewall.StartFirewall();
    if (log.contains("firewall interface created")) {
        GTEST_SKIP() << "this machine has a working filter engine";
    }
    EXPECT_FALSE(started);
    EXPECT_TRUE(
        log.contains_in_order({"Found 1 TAP adapters\n", "FwpmEngineOpen0 failed with error: "}))
        << log.text();
    EXPECT_FALSE(firewall.engine_open());
    EXPECT_FALSE(firewall.StopFirewall());
}

}  // namespace
}  // namespace quietway
