#pragma once

#include <string>

// The name servers of an OpenVPN tunnel on the machine's resolver. On Windows the client puts
// the pushed servers on its TAP adapter, where they go with the adapter, and keeps names off
// other adapters itself (block-outside-dns): nothing is left for the engine to do. On Linux
// quietway_dns puts them in place when the tunnel comes up and takes them away when it goes
// down; the engine puts back what a tunnel left when it ended without that.
namespace quietway {

// Puts back the resolver configuration that a tunnel of ours replaced and that is still saved
// below the data directory `app_data`. True when nothing is left to put back (also when there
// was nothing); what was done or failed is logged.
bool restore_tunnel_dns(const std::string& app_data);

}  // namespace quietway
