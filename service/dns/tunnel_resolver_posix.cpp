#include "service/dns/tunnel_resolver_posix.h"

#include <net/if.h>
#include <sys/stat.h>

#include <cerrno>

#include "service/dns/dns_report_posix.h"
#include "service/dns/dns_state_posix.h"

namespace quietway::dns {
namespace {

bool apply_link(StateDir& state, const std::string& device, const std::vector<DnsServer>& servers,
                ResolvedBus& resolved) {
    const unsigned index = ::if_nametoindex(device.c_str());
    if (index == 0) {
        report("there is no device %s to give the name servers", device.c_str());
        return false;
    }
    // Recorded first: a crash after the call still leaves a note of what to revert.
    return state.save(kLinkRecord, link_record(static_cast<int>(index), device)) &&
           resolved.set_link(static_cast<int>(index), servers);
}

bool apply_file(StateDir& state, const std::string& path, const std::vector<DnsServer>& servers) {
    // A record that is there already holds the machine's own file from before an earlier up
    // that was never undone; what is at the path now is ours.
    if (!state.has(kSavedFileRecord)) {
        FileSnapshot snapshot;
        if (!take_snapshot(path, snapshot) ||
            !state.save(kSavedFileRecord, file_record(snapshot))) {
            return false;
        }
    }
    return write_resolver_file(path, resolver_text(servers));
}

bool undo_link(StateDir& state, bool& restored) {
    std::string record;
    std::string device;
    int index = 0;
    if (!state.load(kLinkRecord, record) || !parse_link_record(record, index, device)) {
        report("the saved link record is unreadable; it is dropped");
        return state.remove(kLinkRecord);
    }
    // A device that is gone took its settings with it; another one under the same number is
    // not ours.
    char name[IF_NAMESIZE] = {};
    if (::if_indextoname(static_cast<unsigned>(index), name) != nullptr && device == name) {
        ResolvedBus resolved;
        if (resolved.running() && !resolved.revert_link(index)) return false;
    }
    restored = true;
    return state.remove(kLinkRecord);
}

bool undo_file(StateDir& state, const std::string& path, bool& restored) {
    std::string record;
    FileSnapshot snapshot;
    if (!state.load(kSavedFileRecord, record) || !parse_file_record(record, snapshot)) {
        report("the saved resolver file record is unreadable; %s stays as it is", path.c_str());
        return false;
    }
    if (!put_back(path, snapshot)) return false;
    restored = true;
    return state.remove(kSavedFileRecord);
}

bool undo_locked(StateDir& state, const std::string& path, bool& restored) {
    bool ok = true;
    if (state.has(kLinkRecord)) ok = undo_link(state, restored);
    if (state.has(kSavedFileRecord)) ok = undo_file(state, path, restored) && ok;
    return ok;
}

}  // namespace

bool apply_tunnel_dns(const ResolverPlaces& places, const std::vector<DnsServer>& servers,
                      const std::string& device, ResolvedBus* resolved,
                      const std::function<bool()>& still_wanted) {
    StateDir state;
    if (!state.open(places.state_dir, true)) return false;
    bool applied = resolved == nullptr || apply_link(state, device, servers, *resolved);
    if (applied && (resolved == nullptr || !managed_by_resolved(places.resolv_conf))) {
        applied = apply_file(state, places.resolv_conf, servers);
    }
    if (applied && still_wanted && !still_wanted()) {
        report("the tunnel ended while its name servers were put in place; they are taken away");
        applied = false;
    }
    bool restored = false;
    if (!applied) undo_locked(state, places.resolv_conf, restored);
    return applied;
}

bool undo_tunnel_dns(const ResolverPlaces& places, bool& restored) {
    restored = false;
    struct stat info {};
    if (::lstat(places.state_dir.c_str(), &info) != 0 && errno == ENOENT) return true;
    StateDir state;
    return state.open(places.state_dir, false) && undo_locked(state, places.resolv_conf, restored);
}

}  // namespace quietway::dns
