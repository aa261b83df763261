#include "tests/common/crash/collector_server.h"

#include <civetweb.h>

#include <cstring>

namespace quietway::testing {
namespace {

constexpr size_t kMaxFileData = 64 * 1024 * 1024;

// The form being received and the part that the next pieces belong to.
struct FormReader {
    ReceivedForm* form;
    std::string part;
    bool part_is_file = false;
};

int on_field_found(const char* key, const char* file_name, char*, size_t, void* user) {
    auto* reader = static_cast<FormReader*>(user);
    reader->part = key != nullptr ? key : "";
    reader->part_is_file = file_name != nullptr && *file_name != '\0';
    if (reader->part_is_file) {
        reader->form->file_part = reader->part;
        reader->form->file_name = file_name;
    }
    return MG_FORM_FIELD_STORAGE_GET;
}

// Called once or more per part with consecutive pieces of its value; the library does not
// repeat the part's name with every piece, so the part comes from on_field_found.
int on_field_get(const char*, const char* value, size_t length, void* user) {
    auto* reader = static_cast<FormReader*>(user);
    ReceivedForm& form = *reader->form;
    if (!reader->part_is_file) {
        form.fields[reader->part].append(value, length);
    } else if (form.file_data.size() + length <= kMaxFileData) {
        form.file_data.append(value, length);
    }
    return MG_FORM_FIELD_HANDLE_GET;
}

}  // namespace

CollectorServer::CollectorServer() {
    mg_init_library(0);
    const char* options[] = {"listening_ports", "127.0.0.1:0", "num_threads", "2", nullptr};
    context_ = mg_start(nullptr, nullptr, options);
    if (context_ == nullptr) return;
    mg_set_request_handler(context_, "/", &CollectorServer::on_request, this);
    mg_server_port ports[1] = {};
    if (mg_get_server_ports(context_, 1, ports) == 1) port_ = ports[0].port;
}

CollectorServer::~CollectorServer() {
    if (context_ != nullptr) mg_stop(context_);
}

std::vector<ReceivedForm> CollectorServer::forms() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return forms_;
}

int CollectorServer::on_request(mg_connection* connection, void* self) {
    const mg_request_info* info = mg_get_request_info(connection);
    ReceivedForm form;
    form.method = info->request_method != nullptr ? info->request_method : "";
    form.uri = info->local_uri != nullptr ? info->local_uri : "";
    const char* type = mg_get_header(connection, "Content-Type");
    form.content_type = type != nullptr ? type : "";
    if (form.method == "POST") {
        FormReader reader{&form};
        mg_form_data_handler handler{on_field_found, on_field_get, nullptr, &reader};
        mg_handle_form_request(connection, &handler);
    }
    {
        auto* server = static_cast<CollectorServer*>(self);
        std::lock_guard<std::mutex> lock(server->mutex_);
        server->forms_.push_back(std::move(form));
    }
    mg_printf(connection, "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nOK");
    return 200;
}

}  // namespace quietway::testing
