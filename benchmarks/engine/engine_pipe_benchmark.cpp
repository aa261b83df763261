// Pipe round trip: status queries (command 3) to the running engine through the shared client,
// one connection, one after another. The channel is $QUIETWAY_PIPE or the default socket.
//   engine_pipe_benchmark [COUNT]      (default 20000)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "benchmarks/engine/latency_stats.h"
#include "common/pipe/pipe_client.h"
#include "common/pipe/pipe_vocabulary.h"

int main(int argc, char** argv) {
    const long count = argc > 1 ? std::atol(argv[1]) : 20000;
    if (count <= 0 || count > 10000000) {
        std::fprintf(stderr, "usage: engine_pipe_benchmark [COUNT 1-10000000]\n");
        return 2;
    }
    quietway::PipeClient client;
    int status = 0;
    // The first call connects and makes the engine's worker take this client over.
    for (int i = 0; i < 100; ++i) {
        if (!client.send_command(quietway::kPipeStatus, status)) {
            std::fprintf(stderr, "the engine's pipe does not answer\n");
            return 1;
        }
    }
    std::vector<double> latencies;
    latencies.reserve(static_cast<size_t>(count));
    long failures = 0;
    for (long i = 0; i < count; ++i) {
        const auto begin = std::chrono::steady_clock::now();
        const bool ok = client.send_command(quietway::kPipeStatus, status);
        const std::chrono::duration<double, std::micro> took =
            std::chrono::steady_clock::now() - begin;
        if (ok) {
            latencies.push_back(took.count());
        } else {
            ++failures;
        }
    }
    std::printf("pipe status query: %ld failed, last status %d\n", failures, status);
    quietway::bench::print_latencies("pipe status query round trip", latencies);
    std::printf("goal: p50 under 100 us\n");
    return failures == 0 ? 0 : 1;
}
