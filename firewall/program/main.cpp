// quietway_firewall: holds the kill switch for every listed server until it is ended.
#include <memory>

#include "common/log/rotating_log.h"
#include "firewall/program/firewall_app.h"
#include "firewall/program/stop_wait.h"

int main() {
    try {
        quietway::program_log().set_file_name(quietway::kFirewallLogFile);
        return quietway::run_firewall_app([] { return std::make_unique<quietway::WfpFirewall>(); },
                                          quietway::wait_for_key_or_stop);
    } catch (...) {
        // Whatever went wrong, the filters went with the process; the exit code stays 0.
        return 0;
    }
}
