#pragma once

// Points the program log at a fresh file and reads back what was logged.

#include <initializer_list>
#include <string>
#include <utility>

#include "common/log/rotating_log.h"
#include "tests/support/test_support.h"

namespace quietway::testing {

class LogCapture {
public:
    explicit LogCapture(std::string file_name = "FilterSet.log")
        : file_name_(std::move(file_name)), env_(kLogDirEnv, dir_.str()) {
        program_log().set_file_name(file_name_.c_str());
    }

    std::string text() const { return read_file(dir_ / file_name_); }
    bool contains(const std::string& piece) const {
        return text().find(piece) != std::string::npos;
    }
    size_t count(const std::string& piece) const {
        const std::string all = text();
        size_t found = 0;
        for (size_t at = all.find(piece); at != std::string::npos; at = all.find(piece, at + 1))
            ++found;
        return found;
    }
    // True when every piece occurs, each after the one before.
    bool contains_in_order(std::initializer_list<std::string> pieces) const {
        const std::string all = text();
        size_t at = 0;
        for (const std::string& piece : pieces) {
            at = all.find(piece, at);
            if (at == std::string::npos) return false;
            at += piece.size();
        }
        return true;
    }
    const TempDir& dir() const { return dir_; }

private:
    std::string file_name_;
    TempDir dir_;
    ScopedEnv env_;
};

}  // namespace quietway::testing
