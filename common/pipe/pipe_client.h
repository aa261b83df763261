#pragma once

#include <memory>
#include <mutex>

namespace quietway {

// The client side of the control channel (tray, quietway_ctl). The connection stays open
// between calls and is made again after a failure. Calls from several threads are serialised
// so that their records never interleave on the one connection.
class PipeClient {
public:
    PipeClient();
    ~PipeClient();
    PipeClient(const PipeClient&) = delete;
    PipeClient& operator=(const PipeClient&) = delete;

    // Sends `command` asking for a reply; true with the status the service answered.
    bool send_command(int command, int& status);

    // The platform connection underneath.
    class Channel {
    public:
        virtual ~Channel() = default;
        virtual bool connected() const = 0;
        virtual bool connect() = 0;
        virtual bool write_all(const unsigned char* bytes, unsigned size) = 0;
        // True only when exactly `size` bytes arrived.
        virtual bool read_exact(unsigned char* bytes, unsigned size) = 0;
        virtual void close() = 0;
    };

private:
    std::mutex mutex_;
    std::unique_ptr<Channel> channel_;
};

std::unique_ptr<PipeClient::Channel> make_pipe_client_channel();

}  // namespace quietway
