#pragma once

#include <json/value.h>

#include <string>

#include "service/rpc/json_rpc_handler.h"
#include "service/rpc/rpc_server_observer.h"

struct mg_connection;
struct mg_context;

namespace quietway {

// The control API on HTTP: an embedded web server on the loopback interface that serves the
// local web interface's files and hands authorized POST bodies to the JSON-RPC dispatcher.
// Configured from the store's "http" section when started.
class RpcHttpServer2 {
public:
    // The one GET the endpoint answers itself: the authorization text as JSON, for pages of
    // this server only (loopback Host, same-origin request) on a connection of root or an
    // administrator or of the console user. Never a file on disk.
    static constexpr const char* kCredentialPath = "/api/credential";

    // The observer is not owned and must outlive the endpoint.
    explicit RpcHttpServer2(RpcServerObserver& observer);
    // Stops a server that is still running before the methods go away.
    ~RpcHttpServer2();
    RpcHttpServer2(const RpcHttpServer2&) = delete;
    RpcHttpServer2& operator=(const RpcHttpServer2&) = delete;

    // Registers the methods, reads the settings and starts the server. On failure the methods
    // stay registered and no server runs; the reason is in the service log or the server's
    // error log.
    bool Start();

    // Stops the server, waiting for requests in progress, and only then removes the methods.
    void Stop();

    bool IsRunning() const { return server_ != nullptr; }

    // Dispatches one POST body and writes the reply; nothing at all when there is none.
    void ProcessRequest(const char* body, mg_connection* connection);

    void RegisterMethods();
    void UnregisterMethods();

    Json::Rpc::Handler& handler() { return handler_; }

    // The control API methods; each fills a flat reply object with its "error" code.
    bool get_general(const Json::Value& request, Json::Value& response);
    bool set_general(const Json::Value& request, Json::Value& response);
    bool get_servers(const Json::Value& request, Json::Value& response);
    bool get_notifications(const Json::Value& request, Json::Value& response);
    bool get_active_server_state(const Json::Value& request, Json::Value& response);
    bool get_about_info(const Json::Value& request, Json::Value& response);
    bool add_server(const Json::Value& request, Json::Value& response);
    bool update_server(const Json::Value& request, Json::Value& response);
    bool delete_server(const Json::Value& request, Json::Value& response);
    bool apply_account(const Json::Value& request, Json::Value& response);
    bool activate_server(const Json::Value& request, Json::Value& response);
    bool deactivate_server(const Json::Value& request, Json::Value& response);
    bool start_privacy(const Json::Value& request, Json::Value& response);
    bool stop_privacy(const Json::Value& request, Json::Value& response);
    // Registered after the fourteen: switches the privacy mode while stopped.
    bool set_privacy_mode(const Json::Value& request, Json::Value& response);
    // The web interface's connection test: exit address and which resolver answers.
    bool check_connection(const Json::Value& request, Json::Value& response);

private:
    // The library's request-begin hook: 1 when the request was answered here, 0 to let the
    // library handle it (static files, its error pages).
    static int OnBeginRequest(mg_connection* connection);
    // The library's error hook: every error reply is written here in a fixed form.
    static int OnHttpError(mg_connection* connection, int status, const char* message);
    int HandlePost(mg_connection* connection);
    // Gives the web interface's own pages the authorization text; see kCredentialPath.
    int HandleCredential(mg_connection* connection);
    bool IsAuthorized(const char* header) const;

    PrivacyState TakeState();
    void AddStatusBlock(const PrivacyState& state, Json::Value& response) const;

    std::string authorization_;
    mg_context* server_ = nullptr;
    Json::Rpc::Handler handler_;
    RpcServerObserver* observer_;
};

}  // namespace quietway
