#include <gtest/gtest.h>

#include "service/privacy/proxy_switch.h"

namespace quietway {
namespace {

TEST(ProxyPort, OnlyPlainDecimalPortNumbers) {
    struct Case {
        const char* text;
        bool port;
    };
    for (const Case& c :
         {Case{"50000", true}, Case{"1", true}, Case{"65535", true}, Case{"8080", true},
          Case{"", false}, Case{"0", false}, Case{"65536", false}, Case{"99999", false},
          Case{"050000", false}, Case{"-1", false}, Case{"+80", false}, Case{" 80", false},
          Case{"80 ", false}, Case{"80a", false}, Case{"123456", false}, Case{"1:2", false}}) {
        EXPECT_EQ(is_proxy_port(c.text), c.port) << '"' << c.text << '"';
    }
}

}  // namespace
}  // namespace quietway
