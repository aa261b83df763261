// firewall_holder ADDRESS...: starts the filter set permitting each ADDRESS as a remote
// address, prints "started <table>" and waits until killed.
#include <unistd.h>

#include <cstdio>

#include "firewall/filter_set/nft_ruleset_posix.h"
#include "firewall/filter_set/wfp_firewall.h"

int main(int argc, char** argv) {
    quietway::WfpFirewall firewall;
    for (int i = 1; i < argc; ++i) firewall.AddPermitIP(argv[i], quietway::kPermitRemoteAddress);
    if (!firewall.StartFirewall()) {
        std::printf("failed\n");
        return 1;
    }
    std::printf("started %s\n", quietway::nft::table_name(firewall.sublayer_key()).c_str());
    std::fflush(stdout);
    for (;;) pause();
}
