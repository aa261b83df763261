// Runs one privacy session against the store the caller points QUIETWAY_REGISTRY at, as the
// service would: init, select the server, start. Prints every observer call as a line, at
// once; stops the session when its standard input ends, then prints "stopped".
//
// usage: sessions_lab_tool vpn|ssh|tor SERVER_ID
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "common/log/rotating_log.h"
#include "service/privacy/privacy_ssh.h"
#include "service/privacy/privacy_vpn.h"
#include "service/privacy/servers_manager.h"

namespace {

class Printer final : public quietway::PrivacyObserver {
public:
    void on_privacy_status(int status) override { print("status", status); }
    void on_same_user(bool same) override { print("same", same ? 1 : 0); }
    void on_privacy_event(int event) override { print("event", event); }

private:
    void print(const char* what, int value) {
        std::lock_guard lock(mutex_);
        std::printf("%s %d\n", what, value);
        std::fflush(stdout);
    }
    std::mutex mutex_;
};

}  // namespace

int main(int argc, char** argv) {
    quietway::program_log().set_file_name(quietway::kServiceLogFile);
    const std::string mode = argc == 3 ? argv[1] : "";
    if (mode != "vpn" && mode != "ssh" && mode != "tor") {
        std::fprintf(stderr, "usage: sessions_lab_tool vpn|ssh|tor SERVER_ID\n");
        return 2;
    }
    quietway::ServersManager manager;
    if (!manager.init() || !manager.select(argv[2])) {
        std::fprintf(stderr, "no such ready server\n");
        return 1;
    }
    Printer printer;
    quietway::PrivacyVpn vpn(printer);
    quietway::PrivacySsh ssh(printer);
    const bool started = mode == "vpn" ? vpn.start(manager) : ssh.start(manager, mode == "tor");
    std::printf("started %d\n", started ? 1 : 0);
    std::fflush(stdout);
    while (std::fgetc(stdin) != EOF) {
    }
    vpn.stop();
    ssh.stop();
    std::printf("stopped\n");
    return 0;
}
