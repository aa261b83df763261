#include "tools/quietway_ctl/ctl_run.h"

#include "tools/quietway_ctl/ctl_endpoint.h"

namespace quietway::ctl {

int run(const Command& command) {
    const Output out(command.json);
    ApiClient api(read_endpoint());
    Context context{command, api, out};
    // Every command is dispatched here, in one place.
    switch (command.verb) {
        case Verb::status:
            return show_status(context);
        case Verb::connect:
            return connect(context);
        case Verb::disconnect:
            return disconnect(context);
        case Verb::servers:
            return list_servers(context);
        case Verb::server_add:
            return add_server(context);
        case Verb::server_edit:
            return edit_server(context);
        case Verb::server_delete:
            return delete_server(context);
        case Verb::account_apply:
            return apply_account(context);
        case Verb::settings:
            return show_settings(context);
        case Verb::set:
            return change_setting(context);
        case Verb::notifications:
            return show_notifications(context);
        case Verb::version:
            return show_version(context);
        case Verb::pipe_start:
        case Verb::pipe_stop:
        case Verb::pipe_server:
            return pipe_only(command, out);
    }
    return kExitUsage;
}

}  // namespace quietway::ctl
