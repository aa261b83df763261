#include <windows.h>

#include "common/os/win_handle.h"
#include "tests/support/child_process.h"

namespace quietway::testing {
namespace {

// Quotes one argument so that the C runtime's parser gives it back unchanged.
std::string quote_argument(const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) return arg;
    std::string quoted = "\"";
    size_t backslashes = 0;
    for (const char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, '\\');
    return quoted + "\"";
}

// The null device, or `path` opened for appending; inheritable either way.
HANDLE inheritable_output(const std::string& path) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    if (path.empty()) {
        return CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    return CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                       OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

HANDLE process_of(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

}  // namespace

ChildProcess::~ChildProcess() {
    kill();
    if (handle_ != 0) CloseHandle(process_of(handle_));
}

bool ChildProcess::start(const std::vector<std::string>& argv, const ChildOptions& options) {
    if (started_ || argv.empty()) return false;
    std::string command_line;
    for (const std::string& arg : argv) {
        command_line += (command_line.empty() ? "" : " ") + quote_argument(arg);
    }
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    WinHandle input(CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    WinHandle output(inheritable_output(options.output_file));
    WinHandle error;
    if (!options.error_file.empty()) error.reset(inheritable_output(options.error_file));
    if (!input.valid() || !output.valid() || (!options.error_file.empty() && !error.valid())) {
        return false;
    }
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input.get();
    startup.hStdOutput = output.get();
    startup.hStdError = error.valid() ? error.get() : output.get();
    // A bare name is looked up the way the system does; a path is taken as it is.
    const bool bare = argv[0].find_first_of("\\/") == std::string::npos;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(bare ? nullptr : argv[0].c_str(), command_line.data(), nullptr, nullptr,
                        TRUE, options.own_console ? CREATE_NEW_CONSOLE : CREATE_NO_WINDOW, nullptr,
                        nullptr, &startup, &process)) {
        return false;
    }
    CloseHandle(process.hThread);
    started_ = true;
    handle_ = reinterpret_cast<intptr_t>(process.hProcess);
    pid_ = process.dwProcessId;
    return true;
}

std::optional<int> ChildProcess::wait(std::chrono::milliseconds limit) {
    if (!started_ || exit_code_) return exit_code_;
    if (WaitForSingleObject(process_of(handle_), static_cast<DWORD>(limit.count())) !=
        WAIT_OBJECT_0) {
        return std::nullopt;
    }
    DWORD code = 0;
    if (!GetExitCodeProcess(process_of(handle_), &code)) return std::nullopt;
    CloseHandle(process_of(handle_));
    handle_ = 0;
    exit_code_ = static_cast<int>(code);
    return exit_code_;
}

// Ctrl+C reaches every process of a console, so the test joins the child's console for the
// moment and ignores the event itself.
bool ChildProcess::request_stop() {
    if (!started_ || exit_code_) return false;
    FreeConsole();
    if (!AttachConsole(pid_)) return false;
    SetConsoleCtrlHandler(nullptr, TRUE);
    const bool sent = GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0) != FALSE;
    FreeConsole();
    return sent;
}

std::optional<int> ChildProcess::kill() {
    if (!started_ || exit_code_) return exit_code_;
    TerminateProcess(process_of(handle_), kKilledExitCode);
    return wait(std::chrono::seconds(10));
}

std::string program_directory() {
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return ".";
    const std::string full(path, length);
    return full.substr(0, full.find_last_of("\\/"));
}

}  // namespace quietway::testing
