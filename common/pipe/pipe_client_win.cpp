#include <windows.h>

#include "common/os/win_handle.h"
#include "common/pipe/pipe_client.h"
#include "common/pipe/pipe_path.h"

namespace quietway {
namespace {

constexpr DWORD kBusyWaitMs = 1000;

class WinClientChannel : public PipeClient::Channel {
public:
    bool connected() const override { return pipe_.valid(); }

    bool connect() override {
        for (;;) {
            pipe_.reset(CreateFileA(pipe_path(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
            if (pipe_.valid()) return true;
            if (GetLastError() != ERROR_PIPE_BUSY) return false;
            if (!WaitNamedPipeA(pipe_path(), kBusyWaitMs)) return false;
        }
    }

    bool write_all(const unsigned char* bytes, unsigned size) override {
        DWORD written = 0;
        return WriteFile(pipe_.get(), bytes, size, &written, nullptr) && written == size;
    }

    bool read_exact(unsigned char* bytes, unsigned size) override {
        DWORD got = 0;
        return ReadFile(pipe_.get(), bytes, size, &got, nullptr) && got == size;
    }

    void close() override { pipe_.reset(); }

private:
    WinHandle pipe_;
};

}  // namespace

std::unique_ptr<PipeClient::Channel> make_pipe_client_channel() {
    return std::make_unique<WinClientChannel>();
}

}  // namespace quietway
