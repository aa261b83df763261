#include <windows.h>
// after windows.h, which it needs
#include <sddl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/store/notification_store.h"
#include "common/store/server_store.h"
#include "common/store/store.h"
#include "tests/support/store_fixture.h"

namespace quietway {
namespace {

// The key's access list as the registry reports it, in its text form.
std::string dacl_text(const std::string& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, READ_CONTROL, &key) != ERROR_SUCCESS)
        return "cannot open";
    DWORD size = 0;
    RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, nullptr, &size);
    std::vector<BYTE> descriptor(size);
    const LONG got = RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor.data(), &size);
    RegCloseKey(key);
    if (got != ERROR_SUCCESS) return "cannot read";
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    ACL* dacl = nullptr;
    if (!GetSecurityDescriptorDacl(descriptor.data(), &present, &dacl, &defaulted))
        return "cannot read";
    if (present && dacl == nullptr) return "null DACL";  // full access for every account
    char* text = nullptr;
    if (!ConvertSecurityDescriptorToStringSecurityDescriptorA(
            descriptor.data(), SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr))
        return "cannot read";
    std::string result(text);
    LocalFree(text);
    return result;
}

// The tray in the user's session changes and deletes notifications; everything else, the
// servers above all, only SYSTEM and the administrators may change (other users read).
class KeySecurityTest : public testing::StoreTest {};

TEST_F(KeySecurityTest, OnlyNotificationKeysCarryTheOpenDescriptor) {
    ASSERT_TRUE(create_reg_dword(kServersPath, "last_index", 2));
    ASSERT_TRUE(create_server({3, "Three", "vpn3.example", "", kServerInitial}));
    NotificationRecord notification;
    notification.id = 5;
    ASSERT_TRUE(create_notification(notification));

    const std::string open = "null DACL";
    const std::string admins_only = "D:P(A;CI;KA;;;SY)(A;CI;KA;;;BA)(A;CI;KR;;;BU)";
    const std::pair<std::string, std::string> expected[] = {
        {kStoreRoot, admins_only},
        {kServersPath, admins_only},
        {std::string(kServersPath) + "\\3", admins_only},
        {kNotificationsPath, open},
        {std::string(kNotificationsPath) + "\\5", open},
    };
    for (const auto& [path, dacl] : expected) EXPECT_EQ(dacl_text(path), dacl) << path;
}

}  // namespace
}  // namespace quietway
