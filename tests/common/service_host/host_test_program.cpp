// A service program built on the host with the test application; the tests install, start,
// stop and remove it, and run it in the foreground and as the service manager would.
#include "common/service_host/service_program.h"
#include "tests/common/service_host/test_application.h"

int main(int argc, char** argv) {
    quietway::testing::load_program_config(argc > 0 ? argv[0] : nullptr);
    return quietway::run_service_program(HOST_TEST_NAMES, quietway::testing::make_test_application,
                                         argc, argv);
}
