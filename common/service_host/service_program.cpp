#include "common/service_host/service_program.h"

#include "common/log/rotating_log.h"

namespace quietway {

int run_service_program(const ServiceNames& names, ApplicationFactory factory, int argc,
                        char** argv) {
    // The log comes first so that the host's construction can already write to it.
    program_log().set_file_name(names.log_file_name);
    program_log().mirror_to_journal();
    QuietwayService host(names, factory);
    host.install_parameters().start_type = kServiceAutoStart;
    return host.process_command_line(argc, argv);
}

}  // namespace quietway
