#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/os/unique_fd.h"

namespace quietway::testing {

// A tiny HTTP server on 127.0.0.1 that answers every request "200 ok" and records its request
// line ("GET /path?query").
class LoopbackHttp {
public:
    LoopbackHttp();
    ~LoopbackHttp();
    LoopbackHttp(const LoopbackHttp&) = delete;
    LoopbackHttp& operator=(const LoopbackHttp&) = delete;

    bool started() const { return port_ != 0; }
    std::string url(const std::string& path) const;
    std::vector<std::string> requests();

private:
    void serve();

    UniqueFd listener_;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<std::string> requests_;
    std::thread thread_;
};

}  // namespace quietway::testing
