#include "firewall/filter_set/nft_listing_posix.h"

#include <gtest/gtest.h>

namespace quietway::nft {
namespace {

// As libnftables prints it, a rule comment that looks like a handle included.
constexpr const char* kListing =
    "table inet quietway_0a { # handle 4 progname quietway_service\n"
    "\tflags dormant,owner\n"
    "\tcomment \"QuietwayFirewall\"\n\n"
    "\tset permit_remote { # handle 3\n"
    "\t\ttype ipv4_addr\n"
    "\t\telements = { 10.0.0.1, 10.99.0.1,\n"
    "\t\t\t     100.64.0.2 }\n"
    "\t}\n\n"
    "\tset permit_local { # handle 4\n"
    "\t\ttype ipv4_addr\n"
    "\t}\n\n"
    "\tchain block { # handle 2\n"
    "\t\tmeta nfproto ipv6 drop comment \"a # handle 99 {x}\" # handle 12\n"
    "\t\tmeta nfproto ipv4 drop # handle 11\n"
    "\t}\n\n"
    "\tchain output { # handle 7\n"
    "\t\ttype filter hook output priority filter; policy accept;\n"
    "\t\tjump permit # handle 9\n"
    "\t}\n"
    "}\n";

TEST(NftListing, ReadsFlagsRuleHandlesInOrderAndElements) {
    const TableListing listing = read_table_listing(kListing);
    EXPECT_TRUE(listing.owned);
    EXPECT_EQ(listing.rules.at("block"), (std::vector<uint64_t>{12, 11}));
    EXPECT_EQ(listing.rules.at("output"), (std::vector<uint64_t>{9}));
    EXPECT_EQ(listing.elements.at("permit_remote"),
              (std::vector<uint32_t>{0x0A000001, 0x0A630001, 0x64400002}));
    EXPECT_TRUE(listing.elements.at("permit_local").empty());
    EXPECT_FALSE(read_table_listing("table inet t {\n\tflags dormant\n}\n").owned);
}

}  // namespace
}  // namespace quietway::nft
