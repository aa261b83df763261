#include <string>

#include "common/process/spawn_posix.h"
#include "tray/core/url_policy.h"

namespace quietway {

// Started detached: without a desktop helper xdg-open runs the browser itself and lives as
// long as it does, which must neither hold the caller nor be ended by it.
bool launch_url_opener(const std::string& url) {
    posix::SpawnRequest request;
    if (!posix::find_executable("xdg-open", request.path)) return false;
    request.args = {"xdg-open", url};
    request.new_session = true;
    request.detached = true;
    return posix::spawn_process(request).ok;
}

}  // namespace quietway
