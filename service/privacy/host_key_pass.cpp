#include "service/privacy/host_key_pass.h"

namespace quietway {

bool HostKeyPass::claim(const std::string& host) {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        const auto found = hosts_.find(host);
        if (found == hosts_.end()) {
            hosts_.emplace(host, State::first_try);
            return true;
        }
        if (found->second != State::first_try) return found->second == State::open;
        changed_.wait(lock);
    }
}

void HostKeyPass::finish(const std::string& host, bool recorded) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        State& state = hosts_[host];
        if (recorded) {
            state = State::recorded;
        } else if (state == State::first_try) {
            state = State::open;
        }
    }
    changed_.notify_all();
}

}  // namespace quietway
