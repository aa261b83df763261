#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "common/store/store.h"

namespace quietway::testing {

// The texts that concurrent writers put into one value: distinct lengths and fillers, so that
// a torn or mixed read can never look like one of them.
inline std::vector<std::string> writer_texts(int writers) {
    std::vector<std::string> texts;
    for (int i = 0; i < writers; ++i) {
        texts.push_back(std::string(static_cast<size_t>(40 + i * 150), static_cast<char>('a' + i)));
    }
    return texts;
}

inline bool is_one_of(const std::string& text, const std::vector<std::string>& texts) {
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

// Reads of one string value while writers replace it: how many failed, and how many gave a
// text that no writer wrote.
struct ReadTally {
    int reads = 0;
    int failed = 0;
    int torn = 0;

    void read(const char* path, const char* name, const std::vector<std::string>& texts) {
        std::string text;
        ++reads;
        if (!read_reg_string(path, name, text))
            ++failed;
        else if (!is_one_of(text, texts))
            ++torn;
    }
};

}  // namespace quietway::testing
