#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "firewall/filter_set/vpn_device.h"

namespace quietway::lab {

// Runs a program to its end with standard output and error captured; its exit code, or -1 when
// it could not be run or did not end.
int run_program(const std::vector<std::string>& argv, std::string* output = nullptr);

// A throwaway network: a client namespace and a server namespace joined by a veth pair, and
// a tun device in the client namespace whose other end this object holds. Everything lives
// inside the two namespaces, which are deleted on destruction. Needs root.
//
//   client (veth)  10.99.0.2/24  10.0.77.2/24  192.168.77.2/24  fd00:99::2/64
//   server (veth)  10.99.0.1  10.99.0.3  10.99.0.4 /24  10.0.77.1/24  192.168.77.1/24
//                  fd00:99::1/64
//   client tun     10.98.0.2/24 (the route to 10.98.0.0/24 goes through it)
class NetnsLab {
public:
    // Our VPN device, so that the kill switch permits it.
    static constexpr const char* kTunName = kVpnDeviceName;

    NetnsLab();
    ~NetnsLab();
    NetnsLab(const NetnsLab&) = delete;
    NetnsLab& operator=(const NetnsLab&) = delete;

    // Empty when everything was set up; otherwise what failed.
    const std::string& error() const { return error_; }
    const std::string& client() const { return client_; }
    const std::string& server() const { return server_; }

    // Reads one packet that left the client through the tun device; empty when none came.
    std::vector<uint8_t> read_tun_packet(std::chrono::milliseconds limit);

    // Names of the nftables tables in the client namespace, as the nft tool lists them.
    std::vector<std::string> client_tables() const;

private:
    bool run(const std::vector<std::string>& argv);
    bool set_up();

    std::string client_;
    std::string server_;
    std::string error_;
    int tun_fd_ = -1;
};

// Moves the calling thread into a named network namespace for the life of the object.
class NetnsScope {
public:
    explicit NetnsScope(const std::string& name);
    ~NetnsScope();
    NetnsScope(const NetnsScope&) = delete;
    NetnsScope& operator=(const NetnsScope&) = delete;
    bool entered() const { return entered_; }

private:
    int original_ = -1;
    bool entered_ = false;
};

// A TCP listener on every address of the namespace it is created in, accepting and closing
// connections on its own thread.
class TcpListener {
public:
    explicit TcpListener(uint16_t port);
    ~TcpListener();
    TcpListener(const TcpListener&) = delete;
    TcpListener& operator=(const TcpListener&) = delete;
    bool listening() const { return fd_ >= 0; }

private:
    int fd_ = -1;
    std::atomic<bool> stop_{false};
    std::thread acceptor_;
};

// Attempts from the calling thread's namespace.
// True when a TCP connection is established within `limit`.
bool tcp_connects(const char* address, uint16_t port, const char* source = nullptr,
                  std::chrono::milliseconds limit = std::chrono::milliseconds(700));
// 0 when a UDP datagram could be sent, otherwise the errno of the send (EPERM: filtered).
int udp_send_error(const char* address, uint16_t port);

}  // namespace quietway::lab
