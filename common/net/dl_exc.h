#pragma once

#include <cstring>

namespace quietway {

// The downloader's failure, thrown and caught by value inside download_file: one constant
// message in a fixed field, cut to fit.
class DLExc {
public:
    static constexpr size_t kCapacity = 80;

    explicit DLExc(const char* message) {
        std::strncpy(message_, message, kCapacity - 1);
        message_[kCapacity - 1] = '\0';
    }
    const char* message() const { return message_; }

private:
    char message_[kCapacity];
};

}  // namespace quietway
