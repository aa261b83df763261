#include "firewall/filter_set/nft_listing_posix.h"

#include <arpa/inet.h>

#include <algorithm>
#include <charconv>
#include <string_view>

namespace quietway::nft {
namespace {

// "owner" alone or in a comma-separated list such as "dormant,owner".
bool names_owner(std::string_view flags) {
    std::string list = ",";
    for (char c : flags) {
        if (c != ' ') list += c;
    }
    return (list + ",").find(",owner,") != std::string::npos;
}

// "... # handle 7": a comment cannot hold a line end, so the last marker is nft's own.
uint64_t rule_handle(std::string_view line) {
    constexpr std::string_view kMarker = " # handle ";
    const char* first = line.data() + line.rfind(kMarker) + kMarker.size();
    const char* last = line.data() + line.size();
    uint64_t handle = 0;
    const auto [stop, error] = std::from_chars(first, last, handle);
    return error == std::errc() && stop == last ? handle : 0;
}

// The addresses among the words of an element list ("{ 10.0.0.1, 10.99.0.1,").
void add_addresses(std::string_view text, std::vector<uint32_t>& addresses) {
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = std::min(text.find_first_of(" ,{}", start), text.size());
        const std::string word(text.substr(start, end - start));
        in_addr parsed{};
        if (!word.empty() && inet_pton(AF_INET, word.c_str(), &parsed) == 1) {
            addresses.push_back(ntohl(parsed.s_addr));
        }
        start = end + 1;
    }
}

// The name in "chain permit { # handle 1" after its keyword.
std::string block_name(std::string_view line, std::string_view keyword) {
    line.remove_prefix(keyword.size());
    return std::string(line.substr(0, line.find(' ')));
}

}  // namespace

TableListing read_table_listing(const std::string& text) {
    // The table's own lines are indented by one tab, a chain's or a set's by two; element
    // lists go on over further lines until their closing brace.
    TableListing listing;
    std::vector<uint64_t>* chain = nullptr;
    std::vector<uint32_t>* set = nullptr;
    bool in_elements = false;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = std::min(text.find('\n', start), text.size());
        std::string_view line(text.data() + start, end - start);
        start = end + 1;
        const size_t depth = std::min(line.find_first_not_of('\t'), line.size());
        line.remove_prefix(depth);
        if (in_elements) {
            add_addresses(line, *set);
            in_elements = line.find('}') == std::string_view::npos;
        } else if (depth == 1) {
            chain = nullptr;
            set = nullptr;
            if (line.starts_with("flags "))
                listing.owned = listing.owned || names_owner(line.substr(6));
            if (line.starts_with("chain ")) chain = &listing.rules[block_name(line, "chain ")];
            if (line.starts_with("set ")) set = &listing.elements[block_name(line, "set ")];
        } else if (depth == 2 && chain != nullptr && line.find(" # handle ") != line.npos) {
            chain->push_back(rule_handle(line));
        } else if (depth == 2 && set != nullptr && line.starts_with("elements = {")) {
            add_addresses(line, *set);
            in_elements = line.find('}') == std::string_view::npos;
        }
    }
    return listing;
}

}  // namespace quietway::nft
