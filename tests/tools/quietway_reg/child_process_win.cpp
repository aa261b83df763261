#include <windows.h>

#include "tests/tools/quietway_reg/child_process.h"

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

HANDLE inheritable_file(const std::string& path, DWORD access, DWORD disposition) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    return CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                       disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

std::string program_directory() {
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return ".";
    const std::string full(path, length);
    return full.substr(0, full.find_last_of("\\/"));
}

ChildProcess::~ChildProcess() {
    if (running_) wait();
}

bool ChildProcess::start(const std::string& program, const std::vector<std::string>& args,
                         const std::string& out_file, const std::string& err_file) {
    std::string command_line = quote_argument(program);
    for (const std::string& arg : args) command_line += " " + quote_argument(arg);

    HANDLE input = inheritable_file("NUL", GENERIC_READ, OPEN_EXISTING);
    HANDLE output = inheritable_file(out_file, GENERIC_WRITE, CREATE_ALWAYS);
    HANDLE error = inheritable_file(err_file, GENERIC_WRITE, CREATE_ALWAYS);
    bool started = false;
    if (input != INVALID_HANDLE_VALUE && output != INVALID_HANDLE_VALUE &&
        error != INVALID_HANDLE_VALUE) {
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = input;
        startup.hStdOutput = output;
        startup.hStdError = error;
        PROCESS_INFORMATION process{};
        started = CreateProcessA(program.c_str(), command_line.data(), nullptr, nullptr, TRUE,
                                 CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process) != FALSE;
        if (started) {
            CloseHandle(process.hThread);
            id_ = reinterpret_cast<long long>(process.hProcess);
            running_ = true;
        }
    }
    for (HANDLE handle : {input, output, error}) {
        if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    }
    return started;
}

int ChildProcess::wait() {
    if (!running_) return -1;
    HANDLE process = reinterpret_cast<HANDLE>(id_);
    DWORD code = 0;
    const bool ended = WaitForSingleObject(process, INFINITE) == WAIT_OBJECT_0 &&
                       GetExitCodeProcess(process, &code);
    CloseHandle(process);
    running_ = false;
    return ended ? static_cast<int>(code) : -1;
}

}  // namespace quietway::testing
