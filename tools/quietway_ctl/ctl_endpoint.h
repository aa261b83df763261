#pragma once

#include <string>

namespace quietway::ctl {

// Where the engine's control API listens and the Authorization value to send it.
struct Endpoint {
    std::string host = "127.0.0.1";
    int port = 8988;
};

// The store's `http` `rpc_port` ("8988", "127.0.0.1:8988"); the installation's default when
// the store cannot be read or holds something else than a loopback address and port.
Endpoint read_endpoint();

// Root's way to the credential: the API account in the store, as "Basic base64(user:password)".
bool read_stored_authorization(std::string& authorization);

}  // namespace quietway::ctl
