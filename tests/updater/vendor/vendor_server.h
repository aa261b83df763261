#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/test_support.h"

// The vendor's web server for tests: quietway_vendor_server as a child on loopback.
//
// It serves the files below its root with a Content-Length. A path prefix changes how the
// file behind it is delivered: "/nolength/<path>" without Content-Length (the close ends the
// body), "/short/<path>" announces the whole length but sends half and closes, "/stall/<path>"
// sends the headers and then nothing until the server stops, "/split/<path>" sends the body in
// two writes 300 ms apart. Any path ending in "set_notification_state.php" answers 200 "ok";
// a missing file 404. The query string is ignored for the lookup but recorded.
namespace quietway::testing {

class VendorServer {
public:
    // Starts quietway_vendor_server on a free loopback port serving the files below `root`.
    explicit VendorServer(const std::filesystem::path& root);
    ~VendorServer();  // stops it
    VendorServer(const VendorServer&) = delete;
    VendorServer& operator=(const VendorServer&) = delete;

    bool started() const;
    std::string url(const std::string& path) const;  // "http://127.0.0.1:PORT" + path
    std::vector<std::string> requests() const;       // request lines so far: "GET /path?query"

private:
    TempDir scratch_;
    ChildProcess child_;
    int port_ = 0;
};

}  // namespace quietway::testing
