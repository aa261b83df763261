#include "service/privacy/pipe_bridge.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <system_error>
#include <thread>

#include "common/log/rotating_log.h"

namespace quietway {
namespace {

void sleep_ms(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace

bool PipeBridge::start(const std::string& program, const std::vector<std::string>& arguments) {
    // The earlier run ends before the new program is stored: its thread may still be reading
    // the old one while it launches.
    stop();
    program_ = program;
    arguments_ = arguments;
    wake_.clear();
    stop_requested_.store(false);
    running_.store(true);
    thread_active_.store(true);
    try {
        std::thread(&PipeBridge::run, this).detach();
    } catch (const std::system_error& failure) {
        log("failed to create PipeBridge thread error = %X ",
            static_cast<unsigned>(failure.code().value()));
        running_.store(false);
        stop_requested_.store(true);
        thread_active_.store(false);
        return false;
    }
    return true;
}

void PipeBridge::stop() {
    stop_requested_.store(true);
    wake_.set();
    while (running_.load()) sleep_ms(kWaitPollMs);
    wait_for_thread();
}

void PipeBridge::wait_for_thread() {
    // Only the observer's last calls are left once running is false, so a short poll will do.
    while (thread_active_.load()) sleep_ms(10);
}

void PipeBridge::run() {
    bool launched = false;
    bool error = false;
    {
        BridgeChild child;
        if (child.create_pipe()) {
            launched = child.launch(program_, arguments_);
            if (!launched) child.close_pipe();
        }
        if (launched && !stop_requested_.load()) {
            char chunk[kChunkCapacity + 1];
            for (;;) {
                const long count = child.waiting(kChunkCapacity);
                if (count < 0) {
                    error = true;
                    break;
                }
                if (count > 0) {
                    // A line the child writes in pieces stays one chunk, as when the reader
                    // slept between reads; a stop cuts the pause short.
                    if (count < static_cast<long>(kChunkCapacity)) wake_.wait(kCoalesceMs);
                    const long got = child.read(chunk, kChunkCapacity);
                    if (got < 0) {
                        log("error ReadFile");
                        error = true;
                        break;
                    }
                    chunk[got] = '\0';
                    if (!observer_.on_output(chunk)) {
                        error = true;
                        break;
                    }
                } else if (child.has_exited()) {
                    // What the child wrote between the look and its exit is read first; after
                    // that the pipe stays empty, as its write end is still ours.
                    if (child.waiting(kChunkCapacity) > 0) continue;
                    error = true;
                    break;
                }
                child.wait_for_output(wake_, kReadPollMs);
                if (stop_requested_.load()) break;
            }
        }
        if (launched) {
            observer_.on_child_ending(child.info());
            child.close_thread_handle();
            child.terminate();
            child.close_process();
            child.close_pipe();
        }
    }
    running_.store(false);
    if (!launched || error) observer_.on_bridge_failed(0);
    if (launched) observer_.on_bridge_finished();
    thread_active_.store(false);  // the last touch of this bridge
}

size_t match_token(const char* chunk, std::span<const std::string_view> table) {
    for (size_t i = 0; i < table.size(); ++i) {
        char slot[kTokenSlot] = {};
        std::memcpy(slot, table[i].data(), std::min(table[i].size(), kTokenSlot - 1));
        if (std::strstr(chunk, slot) != nullptr) return i;
    }
    return table.size();
}

void log_output(const char* header, const char* chunk) {
    log("%s", header);
    log("%s", chunk);
}

}  // namespace quietway
