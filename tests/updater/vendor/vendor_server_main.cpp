// quietway_vendor_server: the vendor's web endpoints for tests and the lab.
//
//   quietway_vendor_server --root DIR --listen ADDRESS:PORT --requests FILE [--port-file FILE]
//
// Serves the files below DIR; every request line is appended to the requests FILE. Port 0
// takes a free port, which is written to the port file once the server listens. Runs until
// SIGTERM or Ctrl+C.
#include <civetweb.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "tests/updater/vendor/vendor_handler.h"

namespace {

constexpr size_t kMaxArgument = 1024;
std::atomic<bool> g_stop{false};

void on_stop_signal(int) { g_stop.store(true); }

struct Options {
    std::string root;
    std::string listen;
    std::string requests;
    std::string port_file;
};

bool valid_listen(const std::string& text) {
    if (text.empty() || text.size() > 64) return false;
    for (const char c : text) {
        if (!(c >= '0' && c <= '9') && c != '.' && c != ':') return false;
    }
    return true;
}

bool parse(int argc, char** argv, Options& options) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        const std::string value = argv[i + 1];
        if (value.size() > kMaxArgument) return false;
        if (name == "--root") {
            options.root = value;
        } else if (name == "--listen") {
            options.listen = value;
        } else if (name == "--requests") {
            options.requests = value;
        } else if (name == "--port-file") {
            options.port_file = value;
        } else {
            return false;
        }
    }
    return argc % 2 == 1 && !options.root.empty() && valid_listen(options.listen) &&
           !options.requests.empty();
}

// Written whole under another name first, so a reader never sees half of it.
bool write_port(const std::string& file, int port) {
    const std::string partial = file + ".partial";
    {
        std::ofstream out(partial, std::ios::trunc);
        out << port << '\n';
        if (!out.good()) return false;
    }
    std::error_code error;
    std::filesystem::rename(partial, file, error);
    return !error;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parse(argc, argv, options)) {
        std::fprintf(stderr,
                     "usage: quietway_vendor_server --root DIR --listen ADDRESS:PORT "
                     "--requests FILE [--port-file FILE]\n");
        return 2;
    }
    std::signal(SIGINT, on_stop_signal);
    std::signal(SIGTERM, on_stop_signal);
    quietway::testing::VendorSite site;
    site.root = options.root;
    site.request_log = options.requests;

    mg_init_library(0);
    const char* server_options[] = {"listening_ports", options.listen.c_str(), "num_threads", "16",
                                    nullptr};
    mg_context* context = mg_start(nullptr, nullptr, server_options);
    if (context == nullptr) {
        std::fprintf(stderr, "quietway_vendor_server: cannot listen on %s\n",
                     options.listen.c_str());
        return 1;
    }
    mg_set_request_handler(context, "/", quietway::testing::handle_vendor_request, &site);
    mg_server_port ports[1] = {};
    if (mg_get_server_ports(context, 1, ports) != 1 ||
        (!options.port_file.empty() && !write_port(options.port_file, ports[0].port))) {
        std::fprintf(stderr, "quietway_vendor_server: cannot report the port\n");
        mg_stop(context);
        return 1;
    }
    std::printf("quietway_vendor_server: serving %s on port %d\n", options.root.c_str(),
                ports[0].port);
    std::fflush(stdout);
    while (!g_stop.load()) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    // Stalled answers end first, then the server waits for its workers.
    site.stopping.store(true);
    mg_stop(context);
    mg_exit_library();
    return 0;
}
