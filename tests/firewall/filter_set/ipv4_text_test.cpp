#include <gtest/gtest.h>

#include "firewall/filter_set/ipv4_text.h"

namespace quietway {
namespace {

Ipv4Address parsed(const char* text) {
    Ipv4Address address;
    EXPECT_TRUE(parse_ipv4(text, address)) << text;
    return address;
}

TEST(ParseIpv4, FirstDottedPartIsTheMostSignificantByte) {
    const Ipv4Address address = parsed("192.168.0.1");
    EXPECT_EQ(address.value, 192u * (1u << 24) + 168u * (1u << 16) + 1u);
    EXPECT_EQ(address.parts[0], 192);
    EXPECT_EQ(address.parts[1], 168);
    EXPECT_EQ(address.parts[2], 0);
    EXPECT_EQ(address.parts[3], 1);
}

TEST(ParseIpv4, RangeBoundsOfTheFilterSet) {
    EXPECT_EQ(parsed("10.0.0.0").value, 0x0A000000u);
    EXPECT_EQ(parsed("10.0.254.255").value, 0x0A00FEFFu);
    EXPECT_EQ(parsed("192.168.254.255").value, 0xC0A8FEFFu);
}

TEST(ParseIpv4, FifthDottedPartLeavesTheAddressUnchanged) {
    Ipv4Address address;
    address.value = 0x01020304;
    address.parts[0] = 9;
    EXPECT_FALSE(parse_ipv4("1.2.3.4.5", address));
    EXPECT_EQ(address.value, 0x01020304u);
    EXPECT_EQ(address.parts[0], 9);

    Ipv4Address fresh;
    EXPECT_FALSE(parse_ipv4("10.0.0.1.", fresh));
    EXPECT_EQ(fresh.value, 0u);
}

TEST(ParseIpv4, PartsWrapAtEightBitsAndNonDigitsCountAsZero) {
    EXPECT_EQ(parsed("256.1.1.1").value, 0x00010101u);  // 25 * 10 + 6 = 256 -> 0
    EXPECT_EQ(parsed("300.0.0.1").value, (300u & 0xFF) << 24 | 1u);
    EXPECT_EQ(parsed("1a.2.3.4").value, 0x0A020304u);  // '1', then 'a' as 0: 10
    EXPECT_EQ(parsed(" 7.0.0.1").value, 0x07000001u);  // ' ' counts 0, then 7
}

TEST(ParseIpv4, MissingPartsAreZero) {
    EXPECT_EQ(parsed("10.8").value, 0x0A080000u);
    EXPECT_EQ(parsed("").value, 0u);
    EXPECT_EQ(parsed("1..2").value, 0x01000200u);
}

}  // namespace
}  // namespace quietway
