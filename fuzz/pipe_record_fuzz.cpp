// Bytes a local client sends to the engine's pipe server, through the server's real socket
// and worker. The worker must answer exactly the well-formed requests that ask for a reply,
// in order, up to the first record with a wrong id, each with the observer's result.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "common/os/unique_fd.h"
#include "common/pipe/pipe_record.h"
#include "fuzz/fuzz_environment.h"
#include "service/pipe/pipe_server.h"

namespace {

using namespace quietway;

int32_t answer_to(int32_t command) { return command ^ 0x5A5A; }

class Answerer : public PipeServerObserver {
public:
    bool on_pipe_command(int command, int& result) override {
        result = answer_to(command);
        return true;
    }
};

// The listener starts on its own thread; a client retries until the socket is there.
UniqueFd connect_client() {
    static PipeServer* server = [] {
        fuzz::environment();
        static Answerer answerer;
        auto* made = new PipeServer(answerer);
        fuzz::require(made->start(), "the pipe server starts");
        return made;
    }();
    (void)server;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, std::getenv("QUIETWAY_PIPE"), sizeof address.sun_path - 1);
    for (int attempt = 0; attempt < 500; ++attempt) {
        UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
        if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
            return fd;
        ::usleep(10000);
    }
    fuzz::require(false, "a client connects to the pipe server");
    return UniqueFd();
}

std::vector<int32_t> expected_replies(const uint8_t* data, size_t size) {
    std::vector<int32_t> replies;
    for (size_t at = 0; at + kPipeRecordSize <= size; at += kPipeRecordSize) {
        uint8_t bytes[kPipeRecordSize];
        std::memcpy(bytes, data + at, kPipeRecordSize);
        const PipeRecord request = decode_record(bytes);
        if (request.id != kPipeId) break;
        if (request.kind == 1) replies.push_back(answer_to(request.command));
    }
    return replies;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // One send of a few records lands whole in the socket's queue, so the worker reads the
    // records exactly as they were cut here.
    if (size > 64 * kPipeRecordSize) return -1;
    const UniqueFd client = connect_client();
    if (size > 0) {
        ssize_t sent = -1;
        do {
            sent = ::send(client.get(), data, size, MSG_NOSIGNAL);
        } while (sent < 0 && errno == EINTR);
        fuzz::require(sent == static_cast<ssize_t>(size), "the request bytes are sent");
    }
    ::shutdown(client.get(), SHUT_WR);
    std::vector<uint8_t> received;
    uint8_t buffer[512];
    for (;;) {
        // libFuzzer's timeout alarm interrupts blocking calls.
        const ssize_t got = ::recv(client.get(), buffer, sizeof buffer, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        received.insert(received.end(), buffer, buffer + got);
    }
    const std::vector<int32_t> expected = expected_replies(data, size);
    if (received.size() != expected.size() * kPipeRecordSize) {
        std::fprintf(stderr, "fuzz: %zu reply bytes for %zu expected replies\n", received.size(),
                     expected.size());
    }
    fuzz::require(received.size() == expected.size() * kPipeRecordSize,
                  "one reply per request that wants one");
    for (size_t i = 0; i < expected.size(); ++i) {
        uint8_t bytes[kPipeRecordSize];
        std::memcpy(bytes, received.data() + i * kPipeRecordSize, kPipeRecordSize);
        const PipeRecord reply = decode_record(bytes);
        fuzz::require(reply.id == kPipeId && reply.result == expected[i],
                      "each reply carries the id and the observer's result");
    }
    return 0;
}
