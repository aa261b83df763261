#include "common/net/percent_encode.h"

#include <gtest/gtest.h>

namespace quietway::testing {
namespace {

TEST(PercentEncode, KeepsOnlyUnreservedBytes) {
    EXPECT_EQ(percent_encode("ca.crt-_~AZaz09"), "ca.crt-_~AZaz09");
    EXPECT_EQ(percent_encode("odd'user\"q$U`id`;&|x.crt"),
              "odd%27user%22q%24U%60id%60%3B%26%7Cx.crt");
    EXPECT_EQ(percent_encode("a/b?c#d e%\xff"), "a%2Fb%3Fc%23d%20e%25%FF");
}

}  // namespace
}  // namespace quietway::testing
