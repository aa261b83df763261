#include "service/privacy/host_key_pass.h"

namespace quietway {

bool HostKeyPass::claim(const std::string& host) {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        const auto found = hosts_.find(host);
        if (found == hosts_.end()) {
            hosts_.emplace(host, State::running);
            return true;
        }
        if (found->second == State::recorded) return false;
        changed_.wait(lock);
    }
}

void HostKeyPass::finish(const std::string& host, bool recorded) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (recorded) {
            hosts_[host] = State::recorded;
        } else {
            hosts_.erase(host);
        }
    }
    changed_.notify_all();
}

}  // namespace quietway
