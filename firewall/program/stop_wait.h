#pragma once

namespace quietway {

// Blocks until a key is pressed on the program's console or the program is told to stop
// (Linux: SIGTERM, SIGINT or SIGHUP). Without console input (started hidden, or standard
// input not a terminal or at its end) only a stop or a kill ends the wait.
void wait_for_key_or_stop();

}  // namespace quietway
