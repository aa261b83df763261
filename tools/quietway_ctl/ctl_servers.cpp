// servers: the list, and adding, editing and deleting a server.
#include <string>

#include "tools/quietway_ctl/ctl_run.h"

namespace quietway::ctl {
namespace {

const char* status_words(const Json::Value& server) {
    const std::string status = server["status"].asString();
    if (status == "initial") return "not prepared";
    if (status == "ready") return "ready";
    if (status == "failed") return "failed";
    return "unknown";
}

void print_servers(const Output& out, const Json::Value& servers) {
    if (!servers.isArray() || servers.empty()) {
        out.line("no servers");
        return;
    }
    for (const Json::Value& server : servers) {
        const std::string mark = server["activated"].asInt() == 1 ? "* " : "  ";
        out.line(mark + server_words(server) + " " + status_words(server));
    }
}

// The reply's list, in words or as {"servers": [...]}.
int show_list(Context& context, const Json::Value& reply) {
    Json::Value shown(Json::objectValue);
    shown["servers"] =
        reply["servers"].isArray() ? reply["servers"] : Json::Value(Json::arrayValue);
    if (reply.isMember("user")) shown["user"] = reply["user"];
    context.out.object(shown);
    print_servers(context.out, reply["servers"]);
    return kExitDone;
}

bool same_text(const Json::Value& value, const std::optional<std::string>& text) {
    return !text || value.asString() == *text;
}

// The servers edit and delete act on, found by id or name in a fresh list.
const Json::Value* named_server(Context& context, Json::Value& list, int& exit_code) {
    ApiFailure failure;
    if (!context.api.call("get_servers", list, failure)) {
        exit_code = context.out.refused(failure);
        return nullptr;
    }
    std::string problem;
    const Json::Value* server = find_server(list["servers"], context.command.server, problem);
    if (server == nullptr) exit_code = context.out.refused(problem);
    return server;
}

}  // namespace

const Json::Value* find_server(const Json::Value& servers, const std::string& id_or_name,
                               std::string& problem) {
    const Json::Value* found = nullptr;
    int matches = 0;
    if (servers.isArray()) {
        for (const Json::Value& server : servers) {
            if (std::to_string(server["id"].asInt()) == id_or_name) return &server;
        }
        for (const Json::Value& server : servers) {
            if (server["name"].asString() == id_or_name) {
                found = &server;
                ++matches;
            }
        }
    }
    if (matches > 1)
        problem = "Several servers are called '" + printable(id_or_name) + "'; give its id.";
    if (matches == 0) problem = "There is no server '" + printable(id_or_name) + "'.";
    return matches == 1 ? found : nullptr;
}

std::string server_words(const Json::Value& server) {
    return std::to_string(server["id"].asInt()) + " " + printable(server["name"].asString()) +
           " (" + printable(server["address"].asString()) + ")";
}

int list_servers(Context& context) {
    Json::Value reply;
    ApiFailure failure;
    if (!context.api.call("get_servers", reply, failure)) return context.out.refused(failure);
    return show_list(context, reply);
}

int add_server(Context& context) {
    Json::Value params(Json::objectValue);
    params["name"] = *context.command.name;
    params["address"] = *context.command.address;
    Json::Value reply;
    ApiFailure failure;
    if (!context.api.call("add_server", params, reply, failure))
        return context.out.refused(failure);
    // The engine answers 0 either way; the list tells whether the server is there.
    bool added = false;
    for (const Json::Value& server : reply["servers"]) {
        added = added || (same_text(server["name"], context.command.name) &&
                          same_text(server["address"], context.command.address) &&
                          server["status"].asString() == "initial");
    }
    if (!added)
        return context.out.refused("The server was not added; the service's log tells why.");
    return show_list(context, reply);
}

int edit_server(Context& context) {
    Json::Value list;
    int exit_code = kExitRefused;
    const Json::Value* server = named_server(context, list, exit_code);
    if (server == nullptr) return exit_code;
    const std::string id = std::to_string((*server)["id"].asInt());
    Json::Value params(Json::objectValue);
    params["id"] = id;
    params["name"] = context.command.name.value_or((*server)["name"].asString());
    params["address"] = context.command.address.value_or((*server)["address"].asString());
    Json::Value reply;
    ApiFailure failure;
    if (!context.api.call("update_server", params, reply, failure))
        return context.out.refused(failure);
    std::string problem;
    const Json::Value* changed = find_server(reply["servers"], id, problem);
    if (changed == nullptr || !same_text((*changed)["name"], context.command.name) ||
        !same_text((*changed)["address"], context.command.address)) {
        return context.out.refused("The server was not changed; the service's log tells why.");
    }
    return show_list(context, reply);
}

int delete_server(Context& context) {
    Json::Value list;
    int exit_code = kExitRefused;
    const Json::Value* server = named_server(context, list, exit_code);
    if (server == nullptr) return exit_code;
    const std::string id = std::to_string((*server)["id"].asInt());
    Json::Value params(Json::objectValue);
    params["index"] = id;
    Json::Value reply;
    ApiFailure failure;
    if (!context.api.call("delete_server", params, reply, failure))
        return context.out.refused(failure);
    std::string problem;
    if (find_server(reply["servers"], id, problem) != nullptr)
        return context.out.refused("The server was not deleted; the service's log tells why.");
    return show_list(context, reply);
}

}  // namespace quietway::ctl
