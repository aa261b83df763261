#pragma once

#include <condition_variable>
#include <map>
#include <mutex>
#include <string>

namespace quietway {

// The hosts whose SSH key one preparation pass has had plink record, so that the servers of
// one host run plink once while different hosts run it at the same time.
class HostKeyPass {
public:
    // True when the caller is to record the host's key; false once this pass has recorded it.
    // Waits while the host's first server is at it.
    bool claim(const std::string& host);
    // Ends a claim. When the first try leaves the host unrecorded, its other servers each try
    // again, as when the servers were prepared one after another, and no longer wait for each
    // other (a host that does not answer would otherwise cost its time limit once a server).
    void finish(const std::string& host, bool recorded);

private:
    enum class State { first_try, open, recorded };

    std::mutex mutex_;
    std::condition_variable changed_;
    std::map<std::string, State> hosts_;
};

}  // namespace quietway
