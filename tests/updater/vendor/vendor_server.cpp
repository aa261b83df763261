#include "tests/updater/vendor/vendor_server.h"

#include <charconv>
#include <sstream>

namespace quietway::testing {
namespace {

constexpr const char* kRequestsFile = "requests.log";
constexpr const char* kPortFile = "port";

int read_port(const std::filesystem::path& file) {
    const std::string text = read_file(file);
    int port = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), port);
    if (error != std::errc() || end == text.data() || port <= 0 || port > 65535) return 0;
    return port;
}

}  // namespace

VendorServer::VendorServer(const std::filesystem::path& root) {
    const std::filesystem::path port_file = scratch_ / kPortFile;
    child_.start(
        {QUIETWAY_VENDOR_SERVER_PATH, "--root", root.string(), "--listen", "127.0.0.1:0",
         "--requests", (scratch_ / kRequestsFile).string(), "--port-file", port_file.string()},
        {.output_file = (scratch_ / "server.log").string()});
    if (!child_.started()) return;
    wait_until([&] { return read_port(port_file) != 0 || !child_.running(); },
               std::chrono::seconds(30));
    port_ = read_port(port_file);
}

VendorServer::~VendorServer() { child_.kill(); }

bool VendorServer::started() const { return port_ != 0; }

std::string VendorServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<std::string> VendorServer::requests() const {
    std::istringstream text(read_file(scratch_ / kRequestsFile));
    std::vector<std::string> lines;
    for (std::string line; std::getline(text, line);) lines.push_back(line);
    return lines;
}

}  // namespace quietway::testing
