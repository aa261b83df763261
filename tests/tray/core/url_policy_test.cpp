#include <gtest/gtest.h>

#include <string>

#include "tray/core/url_policy.h"

namespace quietway::testing {
namespace {

TEST(UrlPolicy, OnlyPlainHttpAndHttpsAddressesAreOpened) {
    struct Case {
        std::string url;
        bool ok;
    };
    const Case cases[] = {
        {"http://127.0.0.1:8988?testpage=true", true},
        {"https://vendor.example/page?a=1&b=2#top", true},
        {"HTTPS://Vendor.Example/", true},
        {"http://host/a%20b", true},
        {"file:///etc/passwd", false},
        {"javascript:alert(1)", false},
        {"ftp://host/", false},
        {"http:/host", false},
        {"http://", false},
        {"http:///path", false},
        {"https://:443/", false},
        {"http://host/ & calc.exe", false},
        {"http://host/\"&calc", false},
        {"http://host/a|b", false},
        {"http://host/\r\nx", false},
        {"http://host/\\..\\", false},
        {" http://host/", false},
        {"", false},
        {"http://h/" + std::string(kMaxOpenableUrl - 9, 'a'), true},
        {"http://h/" + std::string(kMaxOpenableUrl - 8, 'a'), false},
    };
    for (const Case& c : cases) EXPECT_EQ(is_openable_url(c.url), c.ok) << c.url.substr(0, 60);
}

TEST(UrlPolicy, RefusedAddressesNeverReachTheOpener) {
    EXPECT_FALSE(open_url("cmd.exe /c calc"));
    EXPECT_FALSE(open_url("file:///C:/Windows/System32/calc.exe"));
}

}  // namespace
}  // namespace quietway::testing
