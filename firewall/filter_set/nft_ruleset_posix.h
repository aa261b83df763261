#pragma once

#include <cstdint>
#include <string>

#include "firewall/filter_set/filter_record.h"

// How the filter set is laid out in nftables. One `inet` table per sublayer, owned by the
// session that made it:
//   chain output  hook output, policy accept: accept the packets of connections opened from
//                 outside, drop DNS that leaves by another device than the loopback and our
//                 tunnel's, then jump permit, then jump block
//   chain permit  accepts (adapter, range and the two permit-address set lookups)
//   chain block   drops (block-all for IPv4 and IPv6)
// Every permit is therefore evaluated ahead of every block, as the permit filters outweigh
// the block filters within the sublayer. Permitted addresses are elements of a hash set, so
// the cost of a connection does not grow with the number of servers.
namespace quietway::nft {

inline constexpr const char* kPermitChain = "permit";
inline constexpr const char* kBlockChain = "block";
inline constexpr const char* kRemoteAddressSet = "permit_remote";
inline constexpr const char* kLocalAddressSet = "permit_local";

// "quietway_" followed by the key in hex.
std::string table_name(const SublayerKey& key);

// Creates the owned table with its chains, sets and set lookups in one transaction.
std::string table_commands(const std::string& table, const wchar_t* comment);

std::string dotted(uint32_t address);

// A permit of one IPv4 address is kept as an element of one of the two sets.
bool is_set_element(const FilterRecord& filter);
const char* element_set(const FilterRecord& filter);

// The rule for any other filter: the chain it goes to and the rule text. False when the
// filter cannot be expressed (an IPv4 address condition on the IPv6 layer, an interface
// without a usable name).
bool rule_for(const FilterRecord& filter, const std::string& interface_name, std::string& chain,
              std::string& rule);

}  // namespace quietway::nft
