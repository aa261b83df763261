#include "service/dns/resolved_link_posix.h"

#include <systemd/sd-bus.h>

#include <cstring>

#include "service/dns/dns_report_posix.h"

namespace quietway::dns {
namespace {

constexpr const char* kService = "org.freedesktop.resolve1";
constexpr const char* kPath = "/org/freedesktop/resolve1";
constexpr const char* kManager = "org.freedesktop.resolve1.Manager";
// Every call is answered within this, or counts as failed.
constexpr uint64_t kCallMicroseconds = 5 * 1000 * 1000;

// One method call's message and error, released on every path.
struct Call {
    sd_bus_message* message = nullptr;
    sd_bus_message* reply = nullptr;
    sd_bus_error error{};  // SD_BUS_ERROR_NULL, which is a C compound literal
    ~Call() {
        sd_bus_message_unref(message);
        sd_bus_message_unref(reply);
        sd_bus_error_free(&error);
    }
};

bool send(sd_bus* bus, Call& call, const char* method) {
    const int r = sd_bus_call(bus, call.message, kCallMicroseconds, &call.error, &call.reply);
    if (r < 0) {
        report("systemd-resolved %s: %s", method,
               call.error.message != nullptr ? call.error.message : std::strerror(-r));
        return false;
    }
    return true;
}

bool start_call(sd_bus* bus, Call& call, const char* method, int index) {
    return sd_bus_message_new_method_call(bus, &call.message, kService, kPath, kManager, method) >=
               0 &&
           sd_bus_message_append(call.message, "i", index) >= 0;
}

bool append_servers(sd_bus_message* message, const std::vector<DnsServer>& servers) {
    if (sd_bus_message_open_container(message, 'a', "(iay)") < 0) return false;
    for (const DnsServer& server : servers) {
        if (sd_bus_message_open_container(message, 'r', "iay") < 0 ||
            sd_bus_message_append(message, "i", server.family) < 0 ||
            sd_bus_message_append_array(message, 'y', server.bytes.data(), server.bytes.size()) <
                0 ||
            sd_bus_message_close_container(message) < 0) {
            return false;
        }
    }
    return sd_bus_message_close_container(message) >= 0;
}

}  // namespace

ResolvedBus::~ResolvedBus() { sd_bus_flush_close_unref(bus_); }

bool ResolvedBus::connect() {
    if (bus_ != nullptr) return true;
    if (sd_bus_open_system(&bus_) < 0) {
        bus_ = nullptr;
        return false;
    }
    return true;
}

bool ResolvedBus::running() {
    if (!connect()) return false;
    Call call;
    int owned = 0;
    const bool asked =
        sd_bus_message_new_method_call(bus_, &call.message, "org.freedesktop.DBus",
                                       "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                       "NameHasOwner") >= 0 &&
        sd_bus_message_append(call.message, "s", kService) >= 0 &&
        send(bus_, call, "NameHasOwner") && sd_bus_message_read(call.reply, "b", &owned) >= 0;
    return asked && owned != 0;
}

bool ResolvedBus::set_link(int index, const std::vector<DnsServer>& servers) {
    if (!connect()) return false;
    Call dns;
    if (!start_call(bus_, dns, "SetLinkDNS", index) || !append_servers(dns.message, servers) ||
        !send(bus_, dns, "SetLinkDNS")) {
        return false;
    }
    // The root domain as a routing-only domain: "~." in resolvectl's words.
    Call domains;
    if (!start_call(bus_, domains, "SetLinkDomains", index) ||
        sd_bus_message_append(domains.message, "a(sb)", 1, ".", 1) < 0 ||
        !send(bus_, domains, "SetLinkDomains")) {
        return false;
    }
    Call route;
    return start_call(bus_, route, "SetLinkDefaultRoute", index) &&
           sd_bus_message_append(route.message, "b", 1) >= 0 &&
           send(bus_, route, "SetLinkDefaultRoute");
}

bool ResolvedBus::revert_link(int index) {
    Call call;
    return connect() && start_call(bus_, call, "RevertLink", index) &&
           send(bus_, call, "RevertLink");
}

}  // namespace quietway::dns
