#include <errno.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <cstring>

#include "common/os/file_io_posix.h"
#include "common/os/unique_fd.h"
#include "common/pipe/pipe_client.h"
#include "common/pipe/pipe_path.h"

namespace quietway {
namespace {

class PosixClientChannel : public PipeClient::Channel {
public:
    bool connected() const override { return socket_.valid(); }

    bool connect() override {
        const char* path = pipe_path();
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (std::strlen(path) >= sizeof(address.sun_path)) return false;
        std::strcpy(address.sun_path, path);
        UniqueFd socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
        if (!socket.valid()) return false;
        int result;
        do {
            result = ::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address),
                               sizeof(address));
        } while (result != 0 && errno == EINTR);
        if (result != 0) return false;
        socket_ = std::move(socket);
        return true;
    }

    bool write_all(const unsigned char* bytes, unsigned size) override {
        return send_all(socket_.get(), bytes, size);
    }

    bool read_exact(unsigned char* bytes, unsigned size) override {
        unsigned done = 0;
        while (done < size) {
            const ssize_t got = ::recv(socket_.get(), bytes + done, size - done, 0);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) return false;
            done += static_cast<unsigned>(got);
        }
        return true;
    }

    void close() override { socket_.reset(); }

private:
    UniqueFd socket_;
};

}  // namespace

std::unique_ptr<PipeClient::Channel> make_pipe_client_channel() {
    return std::make_unique<PosixClientChannel>();
}

}  // namespace quietway
