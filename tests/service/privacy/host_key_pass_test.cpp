#include <gtest/gtest.h>

#include "service/privacy/host_key_pass.h"

namespace quietway {
namespace {

TEST(HostKeyPass, ARecordedHostIsDoneAndAFailedFirstTryLetsEveryServerTry) {
    HostKeyPass pass;
    ASSERT_TRUE(pass.claim("a:22"));
    pass.finish("a:22", true);
    EXPECT_FALSE(pass.claim("a:22"));
    ASSERT_TRUE(pass.claim("b:22"));
    pass.finish("b:22", false);
    EXPECT_TRUE(pass.claim("b:22"));
    EXPECT_TRUE(pass.claim("b:22")) << "no waiting for the other try";
    pass.finish("b:22", true);
    EXPECT_FALSE(pass.claim("b:22"));
}

}  // namespace
}  // namespace quietway
