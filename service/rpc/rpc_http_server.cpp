#include "service/rpc/rpc_http_server.h"

#include <civetweb.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string_view>
#include <utility>
#include <vector>

#include "common/log/rotating_log.h"
#include "common/net/base64.h"
#include "common/store/store.h"
#include "service/rpc/peer_owner.h"
#include "service/rpc/request_origin.h"

namespace quietway {
namespace {

// No control API request comes near this; a larger body is declined like one whose buffer
// could not be allocated.
constexpr long long kMaxBodyLength = 1024 * 1024;

struct HttpSettings {
    std::string access_control_list;
    std::string access_log_file;  // required, though the server keeps no access log
    std::string document_root;
    std::string enable_directory_listing;
    std::string error_log_file;
    std::string rpc_password;
    std::string rpc_port;
    std::string rpc_user;
};

bool read_http_settings(HttpSettings& settings) {
    const std::pair<const char*, std::string*> values[] = {
        {"access_control_list", &settings.access_control_list},
        {"access_log_file", &settings.access_log_file},
        {"document_root", &settings.document_root},
        {"enable_directory_listing", &settings.enable_directory_listing},
        {"error_log_file", &settings.error_log_file},
        {"rpc_password", &settings.rpc_password},
        {"rpc_port", &settings.rpc_port},
        {"rpc_user", &settings.rpc_user},
    };
    for (const auto& [name, value] : values) {
        if (!get_setting_string("http", name, *value)) {
            log("get %s failed", name);
            return false;
        }
    }
    return true;
}

// A missing, unparsable or negative length counts as an empty body.
long long content_length(const char* header) {
    if (header == nullptr) return 0;
    char* end = nullptr;
    errno = 0;
    const long long length = std::strtoll(header, &end, 10);
    if (end == header || errno == ERANGE || length < 0) return 0;
    return length;
}

void read_body(mg_connection* connection, char* buffer, size_t length) {
    size_t done = 0;
    while (done < length) {
        const int got = mg_read(connection, buffer + done, length - done);
        if (got <= 0) break;
        done += static_cast<size_t>(got);
    }
}

// The credential goes only to a page of this very server: a page on another loopback port
// passes the API's checks but must not learn the secret. Browsers name the requesting page
// in Origin (cross-origin fetches) and Sec-Fetch-Site (every fetch, also <script src>).
bool same_origin_fetch(const char* host, const char* origin, const char* fetch_site) {
    if (fetch_site != nullptr && std::strcmp(fetch_site, "same-origin") != 0) return false;
    // Browsers write both in lower case.
    return origin == nullptr || origin == "http://" + std::string(host);
}

void write_text(mg_connection* connection, const std::string& text) {
    mg_write(connection, text.data(), text.size());
}

// Takes as long for every header of a given length, however much of it matches, so that the
// time of a refusal tells nothing of the password.
bool equal_in_constant_time(const std::string& expected, std::string_view given) {
    volatile unsigned char difference = expected.size() == given.size() ? 0 : 1;
    for (size_t i = 0; i < given.size(); ++i) {
        const char wanted = i < expected.size() ? expected[i] : '\0';
        difference = difference | static_cast<unsigned char>(wanted ^ given[i]);
    }
    return difference == 0;
}

}  // namespace

RpcHttpServer2::RpcHttpServer2(RpcServerObserver& observer) : observer_(&observer) {}

RpcHttpServer2::~RpcHttpServer2() {
    if (server_ != nullptr) Stop();
}

bool RpcHttpServer2::Start() {
    if (server_ != nullptr) return false;
    RegisterMethods();

    HttpSettings settings;
    if (!read_http_settings(settings)) return false;
    std::string credentials;
    if (!base64_encode(settings.rpc_user + ":" + settings.rpc_password, credentials)) {
        log("encode rpc authorization failed");
        return false;
    }
    authorization_ = "Basic " + credentials;

    // clang-format off
    const char* options[] = {
        "enable_directory_listing", settings.enable_directory_listing.c_str(),
        "listening_ports",          settings.rpc_port.c_str(),
        "index_files",              "index.html",
        "document_root",            settings.document_root.c_str(),
        "access_control_list",      settings.access_control_list.c_str(),
        "error_log_file",           settings.error_log_file.c_str(),
        "num_threads",              "2",
        nullptr,
    };
    // clang-format on
    mg_callbacks callbacks{};
    callbacks.begin_request = &RpcHttpServer2::OnBeginRequest;
    callbacks.http_error = &RpcHttpServer2::OnHttpError;
    mg_init_library(0);
    server_ = mg_start(&callbacks, this, options);
    if (server_ == nullptr) mg_exit_library();
    return server_ != nullptr;
}

void RpcHttpServer2::Stop() {
    if (server_ != nullptr) {
        // Returns once the worker threads have finished the requests they were serving.
        mg_stop(server_);
        server_ = nullptr;
        mg_exit_library();
    }
    UnregisterMethods();
}

int RpcHttpServer2::OnBeginRequest(mg_connection* connection) {
    const mg_request_info* info = mg_get_request_info(connection);
    if (info == nullptr || info->request_method == nullptr || info->user_data == nullptr) {
        return 0;
    }
    // Pages of the web interface are the library's to serve, all but the credential.
    if (std::strcmp(info->request_method, "GET") == 0) {
        if (info->local_uri == nullptr || std::strcmp(info->local_uri, kCredentialPath) != 0) {
            return 0;
        }
        return static_cast<RpcHttpServer2*>(info->user_data)->HandleCredential(connection);
    }
    if (std::strcmp(info->request_method, "POST") != 0) return 0;
    return static_cast<RpcHttpServer2*>(info->user_data)->HandlePost(connection);
}

int RpcHttpServer2::OnHttpError(mg_connection* connection, int status, const char*) {
    // The library's own error reply repeats the request's version text, and a malformed
    // request makes that text run on into bytes an earlier client left in the worker's buffer
    // (its authorization, its call's body). Nothing of any request goes into this one.
    const char* reason = mg_get_response_code_text(connection, status);
    const std::string body =
        "Error " + std::to_string(status) + ": " + (reason != nullptr ? reason : "") + "\n";
    write_text(connection,
               "HTTP/1.1 " + std::to_string(status) + " " + (reason != nullptr ? reason : "") +
                   "\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: " +
                   std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
    return 0;
}

int RpcHttpServer2::HandlePost(mg_connection* connection) {
    if (!IsAuthorized(mg_get_header(connection, "Authorization"))) return 0;
    if (!is_local_request(mg_get_header(connection, "Host"), mg_get_header(connection, "Origin"))) {
        return 0;
    }
    const long long length = content_length(mg_get_header(connection, "Content-Length"));
    if (length > kMaxBodyLength) return 0;

    std::vector<char> body;
    try {
        body.assign(static_cast<size_t>(length) + 1, '\0');
    } catch (const std::bad_alloc&) {
        return 0;
    }
    read_body(connection, body.data(), static_cast<size_t>(length));
    // Nothing may unwind into the library's C code; the connection then closes unanswered.
    try {
        ProcessRequest(body.data(), connection);
    } catch (const std::exception&) {
    }
    return 1;
}

int RpcHttpServer2::HandleCredential(mg_connection* connection) {
    const mg_request_info* info = mg_get_request_info(connection);
    const char* host = mg_get_header(connection, "Host");
    const char* origin = mg_get_header(connection, "Origin");
    // Web pages are told apart by their headers; local programs by the account that owns
    // their end of the connection, since the credential can do all that the engine does.
    if (!is_local_request(host, origin) ||
        !same_origin_fetch(host, origin, mg_get_header(connection, "Sec-Fetch-Site")) ||
        !peer_may_have_credential(info->remote_addr, info->remote_port, info->server_port)) {
        write_text(connection, "HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n");
        return 403;
    }
    Json::Value credential(Json::objectValue);
    credential["authorization"] = authorization_;
    const std::string body = handler_.Serialize(credential);
    // nosniff and the resource policy keep a foreign page from loading it as a script or image.
    write_text(connection,
               "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n"
               "Cache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\n"
               "Cross-Origin-Resource-Policy: same-origin\r\nContent-Length: " +
                   std::to_string(body.size()) + "\r\n\r\n" + body);
    return 200;
}

bool RpcHttpServer2::IsAuthorized(const char* header) const {
    if (authorization_.empty()) return true;
    return header != nullptr && equal_in_constant_time(authorization_, header);
}

void RpcHttpServer2::ProcessRequest(const char* body, mg_connection* connection) {
    Json::Value response;
    handler_.HandleMessage(body, response);
    if (response.isNull()) return;
    const std::string text = handler_.Serialize(response);
    mg_printf(connection, "HTTP/1.1 200 OK\r\n\r\n %s", text.c_str());
}

}  // namespace quietway
