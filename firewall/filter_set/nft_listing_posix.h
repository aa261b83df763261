#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// Reads the text libnftables prints for "list table" with handles. This release prints table
// flags wrongly in JSON (the output breaks off after "flags": ), so the table is read as text.
namespace quietway::nft {

struct TableListing {
    bool owned = false;  // "flags owner", alone or among others
    // Each chain's rule handles in chain order; 0 for a rule line whose handle cannot be read.
    std::map<std::string, std::vector<uint64_t>> rules;
    // Each set's IPv4 elements, in host order.
    std::map<std::string, std::vector<uint32_t>> elements;
};

TableListing read_table_listing(const std::string& text);

}  // namespace quietway::nft
