// Runs account provisioning against the store the caller points QUIETWAY_REGISTRY at, as the
// service would: init, then apply_account with the account named by two environment
// variables (so the lab's odd texts pass no shell). Prints the active server's id.
//
// usage: privacy_lab_tool USER_VARIABLE PASSWORD_VARIABLE
#include <cstdio>
#include <cstdlib>

#include "common/log/rotating_log.h"
#include "service/privacy/servers_manager.h"

int main(int argc, char** argv) {
    quietway::program_log().set_file_name(quietway::kServiceLogFile);
    const char* user = argc == 3 ? std::getenv(argv[1]) : nullptr;
    const char* password = argc == 3 ? std::getenv(argv[2]) : nullptr;
    if (user == nullptr || password == nullptr) {
        std::fprintf(stderr, "usage: privacy_lab_tool USER_VARIABLE PASSWORD_VARIABLE\n");
        return 2;
    }
    quietway::ServersManager manager;
    if (!manager.init()) {
        std::fprintf(stderr, "init servers manager failed\n");
        return 1;
    }
    if (!manager.apply_account(user, password)) {
        std::fprintf(stderr, "apply_account failed\n");
        return 1;
    }
    quietway::ServersManager* active = manager.active_server();
    std::printf("%s\n", active != nullptr ? active->active_id().c_str() : "0");
    return 0;
}
