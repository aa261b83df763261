#include <gtest/gtest.h>

#include <string>

#include "common/net/vendor_url.h"
#include "common/store/store.h"
#include "tests/support/store_fixture.h"
#include "tray/core/notification_report.h"

namespace quietway::testing {
namespace {

constexpr const char* kApp = "SOFTWARE\\Quietway2\\app";
constexpr const char* kGeneral = "SOFTWARE\\Quietway2\\general";

using NotificationReportTest = StoreTest;

TEST_F(NotificationReportTest, AddressCarriesAccountIdAndState) {
    const std::string path = "/updater/notifications_list/set_notification_state.php";
    // Without a user the query starts with "&id=" right after the path; without a vendor in
    // the build there is no default address at all.
    EXPECT_EQ(notification_report_url("17", 1),
              vendor_base_url().empty() ? "" : vendor_base_url() + path + "&id=17&state=1");

    ASSERT_TRUE(create_reg_string(RootKey::local_machine, kApp, "notification_set_st_url",
                                  "http://127.0.0.1:9/set.php"));
    EXPECT_EQ(notification_report_url("17", 2), "http://127.0.0.1:9/set.php&id=17&state=2");

    ASSERT_TRUE(create_reg_string(RootKey::local_machine, kGeneral, "user", "jo doe&x=1/%"));
    EXPECT_EQ(notification_report_url("4", 1),
              "http://127.0.0.1:9/set.php?account=jo%20doe%26x%3D1%2F%25&id=4&state=1");
}

}  // namespace
}  // namespace quietway::testing
