#pragma once

#include <atomic>
#include <filesystem>
#include <mutex>
#include <string>

struct mg_connection;

// The vendor web server's answers: files below a root, delivered whole or in the ways that a
// path prefix asks for, and a record of every request line.
namespace quietway::testing {

struct VendorSite {
    std::filesystem::path root;
    std::string request_log;
    std::mutex log_mutex;
    std::atomic<bool> stopping{false};
};

// CivetWeb request handler; `site` is the VendorSite.
int handle_vendor_request(mg_connection* connection, void* site);

}  // namespace quietway::testing
