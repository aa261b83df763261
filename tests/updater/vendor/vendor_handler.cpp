#include "tests/updater/vendor/vendor_handler.h"

#include <civetweb.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

namespace quietway::testing {
namespace {

constexpr size_t kMaxRequestLine = 2048;
constexpr uintmax_t kMaxFileSize = 512ull * 1024 * 1024;
constexpr auto kSplitPause = std::chrono::milliseconds(300);
constexpr auto kMaxStall = std::chrono::minutes(10);
constexpr const char* kStateReport = "set_notification_state.php";

enum class Delivery { whole, no_length, short_body, stall, split };

struct Prefix {
    const char* text;
    Delivery delivery;
};
constexpr Prefix kPrefixes[] = {{"/nolength/", Delivery::no_length},
                                {"/short/", Delivery::short_body},
                                {"/stall/", Delivery::stall},
                                {"/split/", Delivery::split}};

// One line per request, capped, with control characters made visible as '?'.
void record(VendorSite& site, const mg_request_info& info) {
    std::string line = std::string(info.request_method != nullptr ? info.request_method : "?") +
                       " " + (info.local_uri != nullptr ? info.local_uri : "");
    if (info.query_string != nullptr) line += std::string("?") + info.query_string;
    if (line.size() > kMaxRequestLine) line.resize(kMaxRequestLine);
    for (char& c : line) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
    }
    std::lock_guard<std::mutex> lock(site.log_mutex);
    std::ofstream out(site.request_log, std::ios::binary | std::ios::app);
    out << line << '\n';
    out.flush();
}

int reply(mg_connection* connection, int status, const char* reason, const std::string& body) {
    mg_printf(connection,
              "HTTP/1.1 %d %s\r\nContent-Length: %s\r\nContent-Type: text/plain\r\n"
              "Connection: close\r\n\r\n",
              status, reason, std::to_string(body.size()).c_str());
    mg_write(connection, body.data(), body.size());
    return status;
}

bool read_file(const std::filesystem::path& path, std::string& data) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) return false;
    const uintmax_t size = std::filesystem::file_size(path, error);
    if (error || size > kMaxFileSize) return false;
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    data = text.str();
    return in.good() || in.eof();
}

void send_headers(mg_connection* connection, const std::string* length) {
    mg_printf(connection,
              "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n%s%s%s"
              "Connection: close\r\n\r\n",
              length != nullptr ? "Content-Length: " : "", length != nullptr ? length->c_str() : "",
              length != nullptr ? "\r\n" : "");
}

int deliver(mg_connection* connection, VendorSite& site, Delivery delivery,
            const std::string& data) {
    const std::string length = std::to_string(data.size());
    send_headers(connection, delivery == Delivery::no_length ? nullptr : &length);
    const size_t half = data.size() / 2;
    switch (delivery) {
        case Delivery::whole:
        case Delivery::no_length:
            mg_write(connection, data.data(), data.size());
            break;
        case Delivery::short_body:
            mg_write(connection, data.data(), half);
            break;
        case Delivery::stall: {
            const auto until = std::chrono::steady_clock::now() + kMaxStall;
            while (!site.stopping.load() && std::chrono::steady_clock::now() < until) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
            break;
        }
        case Delivery::split:
            mg_write(connection, data.data(), half);
            std::this_thread::sleep_for(kSplitPause);
            mg_write(connection, data.data() + half, data.size() - half);
            break;
    }
    return 200;
}

}  // namespace

int handle_vendor_request(mg_connection* connection, void* user) {
    auto& site = *static_cast<VendorSite*>(user);
    const mg_request_info* info = mg_get_request_info(connection);
    record(site, *info);
    std::string path = info->local_uri != nullptr ? info->local_uri : "";
    if (path.empty() || path.front() != '/' || path.size() > kMaxRequestLine ||
        path.find("..") != std::string::npos || path.find('\\') != std::string::npos ||
        path.find(':') != std::string::npos) {
        return reply(connection, 400, "Bad Request", "bad path");
    }
    if (path.ends_with(kStateReport)) return reply(connection, 200, "OK", "ok");
    Delivery delivery = Delivery::whole;
    for (const Prefix& prefix : kPrefixes) {
        if (path.starts_with(prefix.text)) {
            delivery = prefix.delivery;
            path.erase(0, std::char_traits<char>::length(prefix.text) - 1);
            break;
        }
    }
    std::string data;
    if (!read_file(site.root / path.substr(1), data)) {
        return reply(connection, 404, "Not Found", "not found");
    }
    return deliver(connection, site, delivery, data);
}

}  // namespace quietway::testing
