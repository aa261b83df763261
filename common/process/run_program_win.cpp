#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <vector>

#include "common/log/rotating_log.h"
#include "common/os/win_handle.h"
#include "common/process/quoted_command_line.h"
#include "common/process/run_program.h"
#include "common/process/spawn_win.h"

namespace quietway {
namespace {

using Clock = std::chrono::steady_clock;

constexpr DWORD kPollMs = 20;
constexpr DWORD kInputChunk = 64 * 1024;
constexpr DWORD kPipeBuffer = 64 * 1024;

// A batch file runs under the command interpreter, whose own parsing would undo any quoting
// of its arguments; such programs are refused.
bool is_batch_file(const std::string& program) {
    std::string tail = program.size() >= 4 ? program.substr(program.size() - 4) : "";
    std::transform(tail.begin(), tail.end(), tail.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return tail == ".bat" || tail == ".cmd";
}

// An anonymous pipe whose child end is inheritable and whose parent end is not.
bool make_pipe(WinHandle& child_end, WinHandle& parent_end, bool child_reads) {
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    HANDLE read_end = nullptr;
    HANDLE write_end = nullptr;
    if (!CreatePipe(&read_end, &write_end, &inherit, kPipeBuffer)) return false;
    child_end.reset(child_reads ? read_end : write_end);
    parent_end.reset(child_reads ? write_end : read_end);
    return SetHandleInformation(parent_end.get(), HANDLE_FLAG_INHERIT, 0) != FALSE;
}

HANDLE open_null_device() {
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    return CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       &inherit, OPEN_EXISTING, 0, nullptr);
}

// Feeds the child's standard input on its own thread: a write blocks while the child is not
// reading. stop() cancels a write that would otherwise never end.
class InputWriter {
public:
    // Takes over `pipe` when it starts; running() tells whether it did.
    InputWriter(HANDLE pipe, const std::string& text) : pipe_(pipe), text_(text) {
        if (pipe_ == nullptr || text_.empty()) return;
        thread_.reset(CreateThread(nullptr, 0, &InputWriter::run, this, 0, nullptr));
    }
    ~InputWriter() { stop(); }
    InputWriter(const InputWriter&) = delete;
    InputWriter& operator=(const InputWriter&) = delete;

    bool running() const { return thread_.valid(); }

    void stop() {
        if (!thread_.valid()) return;
        stopping_ = true;
        while (WaitForSingleObject(thread_.get(), 50) == WAIT_TIMEOUT) {
            CancelSynchronousIo(thread_.get());
        }
        thread_.reset();
    }

private:
    static DWORD WINAPI run(void* self) {
        static_cast<InputWriter*>(self)->write_all();
        return 0;
    }

    void write_all() {
        size_t written = 0;
        while (written < text_.size() && !stopping_) {
            const DWORD chunk =
                static_cast<DWORD>(std::min<size_t>(text_.size() - written, kInputChunk));
            DWORD done = 0;
            if (!WriteFile(pipe_, text_.data() + written, chunk, &done, nullptr)) break;
            written += done;
        }
        // End of input for the child.
        CloseHandle(pipe_);
    }

    HANDLE pipe_;
    const std::string& text_;
    std::atomic<bool> stopping_{false};
    WinHandle thread_;
};

// Takes what is in the output pipe now, without waiting for more: a process the child left
// behind may hold the pipe open for good. Returns whether anything came.
bool read_available(HANDLE pipe, std::string& sink) {
    char buffer[16384];
    DWORD available = 0;
    bool any = false;
    while (PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) && available > 0) {
        DWORD got = 0;
        const DWORD want = std::min<DWORD>(available, sizeof(buffer));
        if (!ReadFile(pipe, buffer, want, &got, nullptr) || got == 0) break;
        const size_t room = kMaxCapturedOutput - sink.size();
        sink.append(buffer, std::min<size_t>(got, room));
        any = true;
    }
    return any;
}

struct ChildStreams {
    WinHandle input_child, input_parent;
    WinHandle output_child, output_parent;
    WinHandle null_device;
};

bool prepare_streams(const RunOptions& options, ChildStreams& streams) {
    streams.null_device.reset(open_null_device());
    if (!streams.null_device.valid()) return false;
    if (!options.input.empty() && !make_pipe(streams.input_child, streams.input_parent, true)) {
        return false;
    }
    return options.output == nullptr ||
           make_pipe(streams.output_child, streams.output_parent, false);
}

// The child runs in a job of its own so that a time-out ends whatever it started too.
bool start_child(std::string& line, ChildStreams& streams, PROCESS_INFORMATION& created,
                 WinHandle& job) {
    HANDLE input =
        streams.input_child.valid() ? streams.input_child.get() : streams.null_device.get();
    HANDLE output =
        streams.output_child.valid() ? streams.output_child.get() : streams.null_device.get();
    STARTUPINFOA startup{};
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = output;
    startup.hStdError = output;
    // Only these two, so that a child started at the same time on another thread does not
    // keep our pipes open, nor this one the pipes of others.
    if (!create_process_with_handles(nullptr, line, CREATE_NO_WINDOW | CREATE_SUSPENDED, startup,
                                     {input, output}, created)) {
        return false;
    }
    job.reset(CreateJobObjectA(nullptr, nullptr));
    if (job.valid() && !AssignProcessToJobObject(job.get(), created.hProcess)) job.reset();
    ResumeThread(created.hThread);
    return true;
}

void end_child(HANDLE process, const WinHandle& job) {
    if (!job.valid() || !TerminateJobObject(job.get(), 1)) TerminateProcess(process, 1);
    WaitForSingleObject(process, INFINITE);
}

}  // namespace

RunResult run_program(const std::vector<std::string>& args, const RunOptions& options) {
    RunResult result;
    std::string line;
    if (!build_command_line(args, line) || is_batch_file(args[0])) {
        log("run_program: cannot pass these arguments safely to %s, refused",
            args.empty() ? "(nothing)" : args[0].c_str());
        result.error = ERROR_INVALID_PARAMETER;
        return result;
    }
    if (options.input.size() > kMaxProgramInput) {
        log("run_program: input of %d bytes for %s is too long, refused",
            static_cast<int>(options.input.size()), args[0].c_str());
        result.error = ERROR_INSUFFICIENT_BUFFER;
        return result;
    }
    ChildStreams streams;
    if (!prepare_streams(options, streams)) {
        result.error = GetLastError();
        return result;
    }
    PROCESS_INFORMATION created{};
    WinHandle job;
    if (!start_child(line, streams, created, job)) {
        result.error = GetLastError();
        log("run_program: cannot start %s, error %u", args[0].c_str(), result.error);
        return result;
    }
    WinHandle thread(created.hThread);
    WinHandle process(created.hProcess);
    streams.input_child.reset();
    streams.output_child.reset();
    result.started = true;

    InputWriter writer(streams.input_parent.get(), options.input);
    // The writer closes its end when done; without a writer it is closed here: end of input.
    if (writer.running()) {
        streams.input_parent.release();
    } else {
        streams.input_parent.reset();
    }
    std::string discarded;
    std::string& sink = options.output != nullptr ? *options.output : discarded;
    sink.clear();
    const auto deadline = Clock::now() + std::chrono::milliseconds(options.time_limit_ms);
    bool reading = false;
    while (WaitForSingleObject(process.get(), reading ? 0 : kPollMs) == WAIT_TIMEOUT) {
        reading =
            streams.output_parent.valid() && read_available(streams.output_parent.get(), sink);
        if (options.time_limit_ms != 0 && Clock::now() >= deadline) {
            end_child(process.get(), job);
            result.timed_out = true;
            break;
        }
    }
    if (streams.output_parent.valid()) read_available(streams.output_parent.get(), sink);
    writer.stop();
    DWORD exit_code = 0;
    if (GetExitCodeProcess(process.get(), &exit_code)) result.exit_code = exit_code;
    return result;
}

}  // namespace quietway
