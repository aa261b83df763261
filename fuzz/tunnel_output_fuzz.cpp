// Output of the tunnel programs, cut into chunks as the runner's reads return them, through
// both sessions' token tables. Each byte below 0x10 ends a chunk, and so does the runner's
// chunk capacity.
#include <string>

#include "fuzz/fuzz_environment.h"
#include "service/privacy/pipe_bridge.h"
#include "service/privacy/privacy_observer.h"
#include "service/privacy/privacy_ssh.h"
#include "service/privacy/privacy_vpn.h"

namespace {

using namespace quietway;

class Recorder : public PrivacyObserver {
public:
    void on_privacy_status(int status) override {
        fuzz::require(status >= kPrivacyStopped && status <= kPrivacyConnected,
                      "sessions report a known status");
    }
    void on_same_user(bool) override {}
    void on_privacy_event(int) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::environment();
    static Recorder recorder;
    static PrivacyVpn vpn(recorder);
    static PrivacySsh ssh(recorder);
    std::string chunk;
    for (size_t i = 0; i <= size; ++i) {
        const bool end = i == size || data[i] < 0x10 || chunk.size() == PipeBridge::kChunkCapacity;
        if (end && !chunk.empty()) {
            vpn.on_output(chunk.c_str());
            ssh.on_output(chunk.c_str());
            chunk.clear();
        }
        if (i < size && data[i] >= 0x10) chunk.push_back(static_cast<char>(data[i]));
    }
    return 0;
}
