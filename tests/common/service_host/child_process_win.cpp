#include <windows.h>

#include "tests/common/service_host/child_process.h"

namespace quietway::testing {
namespace {

// Quotes one argument the way the C runtime splits a command line.
std::string quote_argument(const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) return arg;
    std::string out = "\"";
    size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"') {
            out.append(backslashes * 2 + 1, '\\');
        } else {
            out.append(backslashes, '\\');
        }
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, '\\');
    out += '"';
    return out;
}

HANDLE process_of(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

}  // namespace

ChildProcess::~ChildProcess() { kill(); }

bool ChildProcess::start(const std::string& program, const std::vector<std::string>& args,
                         const std::string& error_file) {
    std::string command = quote_argument(program);
    for (const std::string& arg : args) command += " " + quote_argument(arg);

    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE error =
        CreateFileA(error_file.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    &inheritable, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (error == INVALID_HANDLE_VALUE) return false;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = error;
    startup.hStdError = error;
    PROCESS_INFORMATION info{};
    const BOOL created = CreateProcessA(program.c_str(), command.data(), nullptr, nullptr, TRUE,
                                        CREATE_NEW_CONSOLE, nullptr, nullptr, &startup, &info);
    CloseHandle(error);
    if (!created) return false;
    CloseHandle(info.hThread);
    handle_ = reinterpret_cast<intptr_t>(info.hProcess);
    pid_ = info.dwProcessId;
    return true;
}

bool ChildProcess::wait(std::chrono::milliseconds limit, int& exit_code) {
    if (handle_ == 0) return false;
    if (WaitForSingleObject(process_of(handle_), static_cast<DWORD>(limit.count())) !=
        WAIT_OBJECT_0) {
        return false;
    }
    DWORD code = 0;
    GetExitCodeProcess(process_of(handle_), &code);
    CloseHandle(process_of(handle_));
    handle_ = 0;
    exit_code = static_cast<int>(code);
    return true;
}

// Ctrl+C reaches every process of a console, so the test joins the child's console for the
// moment and ignores the event itself.
bool ChildProcess::request_stop() {
    if (handle_ == 0) return false;
    FreeConsole();
    if (!AttachConsole(pid_)) return false;
    SetConsoleCtrlHandler(nullptr, TRUE);
    const bool sent = GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0) != FALSE;
    FreeConsole();
    return sent;
}

void ChildProcess::kill() {
    if (handle_ == 0) return;
    TerminateProcess(process_of(handle_), 99);
    WaitForSingleObject(process_of(handle_), 10000);
    CloseHandle(process_of(handle_));
    handle_ = 0;
}

}  // namespace quietway::testing
