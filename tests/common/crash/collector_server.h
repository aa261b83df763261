#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

struct mg_context;
struct mg_connection;

namespace quietway::testing {

// One request as the collector saw it, its form parsed by the HTTP library's own parser.
struct ReceivedForm {
    std::string method;
    std::string uri;
    std::string content_type;
    std::map<std::string, std::string> fields;  // text parts
    std::string file_part;                      // name of the part that carried a file
    std::string file_name;
    std::string file_data;
};

// A crash collector on a free loopback port that records every request.
class CollectorServer {
public:
    CollectorServer();
    ~CollectorServer();
    CollectorServer(const CollectorServer&) = delete;
    CollectorServer& operator=(const CollectorServer&) = delete;

    bool running() const { return context_ != nullptr && port_ > 0; }
    int port() const { return port_; }
    std::vector<ReceivedForm> forms() const;

private:
    static int on_request(mg_connection* connection, void* self);

    mg_context* context_ = nullptr;
    int port_ = 0;
    mutable std::mutex mutex_;
    std::vector<ReceivedForm> forms_;
};

}  // namespace quietway::testing
