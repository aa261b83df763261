// The control API methods of RpcHttpServer2. Each fills a flat reply with its own members and
// an "error" code; the JSON library sorts the members by name when the reply is written.
#include <memory>

#include "common/privacy/privacy_mode.h"
#include "common/privacy/privacy_status.h"
#include "common/store/notification_store.h"
#include "common/store/server_store.h"
#include "common/store/store.h"
#include "common/version/client_version.h"
#include "service/rpc/rpc_http_server.h"
#include "service/rpc/rpc_params.h"

namespace quietway {
namespace {

using Method = Json::Rpc::RpcMethod<RpcHttpServer2>::Method;

struct MethodEntry {
    const char* name;
    Method method;
};

// Registration order; removal runs in the same order.
constexpr MethodEntry kMethods[] = {
    {"get_general", &RpcHttpServer2::get_general},
    {"set_general", &RpcHttpServer2::set_general},
    {"get_servers", &RpcHttpServer2::get_servers},
    {"get_notifications", &RpcHttpServer2::get_notifications},
    {"get_active_server_state", &RpcHttpServer2::get_active_server_state},
    {"get_about_info", &RpcHttpServer2::get_about_info},
    {"add_server", &RpcHttpServer2::add_server},
    {"update_server", &RpcHttpServer2::update_server},
    {"delete_server", &RpcHttpServer2::delete_server},
    {"apply_account", &RpcHttpServer2::apply_account},
    {"activate_server", &RpcHttpServer2::activate_server},
    {"deactivate_server", &RpcHttpServer2::deactivate_server},
    {"start_privacy", &RpcHttpServer2::start_privacy},
    {"stop_privacy", &RpcHttpServer2::stop_privacy},
    {"set_privacy_mode", &RpcHttpServer2::set_privacy_mode},
    {"check_connection", &RpcHttpServer2::check_connection},
};

// "error" codes of the replies.
constexpr int kDone = 0;
constexpr int kNotStopped = 1;
constexpr int kNotConnected = 2;
constexpr int kSettingsLocked = 3;
constexpr int kActivateRefused = 5;
constexpr int kDeactivateRefused = 6;
constexpr int kStartFailed = 7;
constexpr int kStopFailed = 8;
constexpr int kAccountFailed = 9;
constexpr int kModeNotStored = 10;

// The server list, or null when it cannot be built.
Json::Value servers_member() {
    // Returned by name, not through ?:, which would copy the whole list.
    Json::Value servers(Json::arrayValue);
    if (!list_servers_json(servers)) return Json::Value();
    return servers;
}

Json::Value notifications_member() {
    Json::Value notifications(Json::arrayValue);
    if (!list_notifications_json(notifications)) return Json::Value();
    return notifications;
}

uint32_t general_dword(const char* name) {
    uint32_t value = 0;
    return get_setting_dword("general", name, value) ? value : 0;
}

std::string general_string(const char* name) {
    std::string value;
    return get_setting_string("general", name, value) ? value : std::string();
}

// Methods that act on one server take its number from "index".
bool index_param(const Json::Value& request, std::string& index) {
    return text_param(request_params(request), "index", index);
}

// The store's server operations read their members as text themselves; check first that
// every one of them converts and that the texts stored as values fit (a refusal is logged).
bool server_params_valid(const Json::Value& params, std::initializer_list<const char*> keys,
                         std::initializer_list<const char*> stored) {
    std::string text;
    for (const char* name : keys) {
        if (!text_param(params, name, text)) return false;
    }
    for (const char* name : stored) {
        if (!text_param(params, name, text) || !string_value_fits(name, text)) return false;
    }
    return true;
}

// An address starting with a digit becomes the server's IPv4 address as written.
bool address_param_valid(const Json::Value& params) {
    std::string address;
    return text_param(params, "address", address) && is_server_address(address);
}

}  // namespace

void RpcHttpServer2::RegisterMethods() {
    for (const MethodEntry& entry : kMethods) {
        handler_.RegisterMethod(std::make_unique<Json::Rpc::RpcMethod<RpcHttpServer2>>(
            *this, entry.method, entry.name, Json::Value("description")));
    }
}

void RpcHttpServer2::UnregisterMethods() {
    for (const MethodEntry& entry : kMethods) handler_.UnregisterMethod(entry.name);
}

PrivacyState RpcHttpServer2::TakeState() {
    PrivacyState state;
    observer_->get_state(state);
    return state;
}

void RpcHttpServer2::AddStatusBlock(const PrivacyState& state, Json::Value& response) const {
    response["privacy_status"] = state.privacy_status;
    response["privacy_mode"] = state.privacy_mode;
    response["same_user"] = state.same_user;
}

bool RpcHttpServer2::get_general(const Json::Value&, Json::Value& response) {
    AddStatusBlock(TakeState(), response);
    uint32_t activated = 0;
    response["active_server"] =
        read_reg_dword(kServersPath, "activated", activated) ? activated : 0u;
    response["auto_privacy"] = general_dword("auto_privacy");
    response["auto_tray"] = general_dword("auto_tray");
    response["use_firewall"] = general_dword("use_firewall");
    response["use_change_servers"] = general_dword("use_change_servers");
    response["account_expires"] = general_string("account_expires");
    response["error"] = kDone;
    return true;
}

bool RpcHttpServer2::set_general(const Json::Value& request, Json::Value& response) {
    if (TakeState().privacy_status != kPrivacyStopped) {
        response["error"] = kSettingsLocked;
        return true;
    }
    const Json::Value& params = request_params(request);
    int32_t auto_privacy = 0;
    int32_t use_firewall = 0;
    int32_t use_change_servers = 0;
    if (!int_param(params, "auto_privacy", auto_privacy) ||
        !int_param(params, "use_firewall", use_firewall) ||
        !int_param(params, "use_change_servers", use_change_servers)) {
        response = invalid_params_reply(request);
        return false;
    }
    // A failed write shows in the next "get_general"; the reply does not report it.
    set_setting_dword("general", "auto_privacy", static_cast<uint32_t>(auto_privacy));
    set_setting_dword("general", "use_firewall", static_cast<uint32_t>(use_firewall));
    set_setting_dword("general", "use_change_servers", static_cast<uint32_t>(use_change_servers));
    response["error"] = kDone;
    return true;
}

bool RpcHttpServer2::get_servers(const Json::Value&, Json::Value& response) {
    AddStatusBlock(TakeState(), response);
    response["servers"] = servers_member();
    response["user"] = general_string("user");
    response["error"] = kDone;
    return true;
}

bool RpcHttpServer2::get_notifications(const Json::Value&, Json::Value& response) {
    response["notifications"] = notifications_member();
    response["error"] = kDone;
    return true;
}

bool RpcHttpServer2::get_active_server_state(const Json::Value&, Json::Value& response) {
    const PrivacyState state = TakeState();
    AddStatusBlock(state, response);
    ServerRecord server;
    const bool known =
        state.privacy_status == kPrivacyConnected && read_server(state.active_server_id, server);
    response["server_ip"] = known ? server.address_ip : std::string();
    response["error"] = kDone;
    return true;
}

bool RpcHttpServer2::get_about_info(const Json::Value&, Json::Value& response) {
    response["version_info"] = kClientVersion;
    response["error"] = kDone;
    return true;
}

bool RpcHttpServer2::add_server(const Json::Value& request, Json::Value& response) {
    const PrivacyState state = TakeState();
    const Json::Value& params = request_params(request);
    if (!server_params_valid(params, {}, {"address", "name"}) || !address_param_valid(params)) {
        response = invalid_params_reply(request);
        return false;
    }
    AddStatusBlock(state, response);
    add_server_entry(params);  // the list below shows whether it worked
    response["servers"] = servers_member();
    response["error"] = kDone;
    return true;
}

bool RpcHttpServer2::update_server(const Json::Value& request, Json::Value& response) {
    const PrivacyState state = TakeState();
    const Json::Value& params = request_params(request);
    if (!server_params_valid(params, {"id"}, {"address", "name"}) || !address_param_valid(params)) {
        response = invalid_params_reply(request);
        return false;
    }
    AddStatusBlock(state, response);
    update_server_entry(params);
    response["servers"] = servers_member();
    response["error"] = kDone;
    return true;
}

bool RpcHttpServer2::delete_server(const Json::Value& request, Json::Value& response) {
    const PrivacyState state = TakeState();
    std::string index;
    if (!index_param(request, index)) {
        response = invalid_params_reply(request);
        return false;
    }
    AddStatusBlock(state, response);
    delete_server_entry(index);
    response["servers"] = servers_member();
    response["error"] = kDone;
    return true;
}

bool RpcHttpServer2::apply_account(const Json::Value& request, Json::Value& response) {
    const PrivacyState state = TakeState();
    const Json::Value& params = request_params(request);
    std::string user;
    std::string password;
    if (!text_param(params, "user", user) || !text_param(params, "password", password)) {
        response = invalid_params_reply(request);
        return false;
    }
    AddStatusBlock(state, response);
    // An account that cannot be stored is refused before anything changes.
    if (!string_value_fits("user", user) || !string_value_fits("password", password)) {
        response["servers"] = servers_member();
        response["error"] = kAccountFailed;
        return true;
    }
    // The updater fetches the new account's expiry again.
    set_setting_string("general", "account_expires", "");
    const bool applied = observer_->apply_account(user, password);
    response["servers"] = servers_member();
    response["error"] = applied ? kDone : kAccountFailed;
    return true;
}

bool RpcHttpServer2::activate_server(const Json::Value& request, Json::Value& response) {
    const PrivacyState state = TakeState();
    std::string index;
    if (!index_param(request, index)) {
        response = invalid_params_reply(request);
        return false;
    }
    AddStatusBlock(state, response);
    response["error"] = observer_->select_server(index) ? kDone : kActivateRefused;
    response["servers"] = servers_member();
    return true;
}

bool RpcHttpServer2::deactivate_server(const Json::Value& request, Json::Value& response) {
    const PrivacyState state = TakeState();
    std::string index;
    if (!index_param(request, index)) {
        response = invalid_params_reply(request);
        return false;
    }
    AddStatusBlock(state, response);
    response["error"] = observer_->clear_server(index) ? kDone : kDeactivateRefused;
    response["servers"] = servers_member();
    return true;
}

bool RpcHttpServer2::start_privacy(const Json::Value&, Json::Value& response) {
    const PrivacyState state = TakeState();
    AddStatusBlock(state, response);
    if (state.privacy_status != kPrivacyStopped) {
        response["error"] = kNotStopped;
    } else {
        response["error"] = observer_->start_session() ? kDone : kStartFailed;
    }
    return true;
}

bool RpcHttpServer2::stop_privacy(const Json::Value&, Json::Value& response) {
    const PrivacyState state = TakeState();
    AddStatusBlock(state, response);
    if (state.privacy_status != kPrivacyConnected) {
        response["error"] = kNotConnected;
    } else {
        response["error"] = observer_->stop_session() ? kDone : kStopFailed;
    }
    return true;
}

bool RpcHttpServer2::set_privacy_mode(const Json::Value& request, Json::Value& response) {
    const PrivacyState state = TakeState();
    // Only a whole number names a mode; a missing one must not quietly pick mode 0.
    const Json::Value& mode = request_params(request)["mode"];
    if (!mode.isInt() || mode.asInt() < kPrivacyModeSshProxy || mode.asInt() > kPrivacyModeVpn) {
        response = invalid_params_reply(request);
        return false;
    }
    AddStatusBlock(state, response);
    if (state.privacy_status != kPrivacyStopped) {
        response["error"] = kSettingsLocked;
    } else {
        response["error"] = observer_->set_mode(mode.asInt()) ? kDone : kModeNotStored;
    }
    return true;
}

}  // namespace quietway
