#include <windows.h>

#include <userenv.h>
#include <wtsapi32.h>

#include <cstring>
#include <string>

#include "common/log/rotating_log.h"
#include "common/os/win_handle.h"
#include "common/process/launcher.h"

namespace quietway {
namespace {

constexpr DWORD kNoConsoleSession = 0xFFFFFFFF;

// SeTcbPrivilege enabled in the service's own token for the length of one launch; the
// previous state comes back on destruction.
class TcbPrivilege {
public:
    TcbPrivilege() {
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY,
                              token_.receive())) {
            return;
        }
        TOKEN_PRIVILEGES wanted{};
        wanted.PrivilegeCount = 1;
        wanted.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        if (!LookupPrivilegeValueA(nullptr, "SeTcbPrivilege", &wanted.Privileges[0].Luid)) return;
        DWORD size = 0;
        enabled_ = AdjustTokenPrivileges(token_.get(), FALSE, &wanted, sizeof(previous_),
                                         &previous_, &size) != FALSE;
    }
    ~TcbPrivilege() {
        if (enabled_) AdjustTokenPrivileges(token_.get(), FALSE, &previous_, 0, nullptr, nullptr);
    }
    TcbPrivilege(const TcbPrivilege&) = delete;
    TcbPrivilege& operator=(const TcbPrivilege&) = delete;

    bool enabled() const { return enabled_; }

private:
    WinHandle token_;
    TOKEN_PRIVILEGES previous_{};
    bool enabled_ = false;
};

class EnvironmentBlock {
public:
    explicit EnvironmentBlock(HANDLE token) {
        if (!CreateEnvironmentBlock(&block_, token, TRUE)) block_ = nullptr;
    }
    ~EnvironmentBlock() {
        if (block_ != nullptr) DestroyEnvironmentBlock(block_);
    }
    EnvironmentBlock(const EnvironmentBlock&) = delete;
    EnvironmentBlock& operator=(const EnvironmentBlock&) = delete;

    void* get() const { return block_; }

private:
    void* block_ = nullptr;
};

// The console user's token, made primary so a process can be created with it.
bool console_user_token(WinHandle& primary) {
    const DWORD session = WTSGetActiveConsoleSessionId();
    if (session == kNoConsoleSession) return false;
    WinHandle user_token;
    if (!WTSQueryUserToken(session, user_token.receive())) return false;
    return DuplicateTokenEx(user_token.get(), MAXIMUM_ALLOWED, nullptr, SecurityIdentification,
                            TokenPrimary, primary.receive()) != FALSE;
}

}  // namespace

bool run_in_user_session(const char* program) {
    if (program == nullptr || *program == '\0') return false;
    TcbPrivilege privilege;
    if (!privilege.enabled()) return false;
    WinHandle token;
    if (!console_user_token(token)) return false;

    // The record's size is the platform's own: 104 bytes on x64 (68 is the 32-bit layout).
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    char desktop[] = "winsta0\\default";
    startup.lpDesktop = desktop;
    EnvironmentBlock environment(token.get());
    if (environment.get() == nullptr) return false;

    PROCESS_INFORMATION created{};
    const BOOL ok = CreateProcessAsUserA(token.get(), program, nullptr, nullptr, nullptr, FALSE,
                                         CREATE_UNICODE_ENVIRONMENT, environment.get(), nullptr,
                                         &startup, &created);
    WinHandle thread(created.hThread);
    WinHandle process(created.hProcess);
    return ok != FALSE;
}

uint32_t run_shell_command(const char* command) {
    if (command == nullptr) return ERROR_INVALID_PARAMETER;
    char interpreter[kShellCommandCapacity];
    const DWORD length = GetEnvironmentVariableA("COMSPEC", interpreter, sizeof(interpreter));
    if (length == 0 || length >= sizeof(interpreter)) std::strcpy(interpreter, "CMD.EXE");

    std::string line = std::string(interpreter) + " /c " + command;
    if (line.size() + 1 > kShellCommandCapacity) {
        log("run_shell_command: command of %d bytes is too long, refused",
            static_cast<int>(std::strlen(command)));
        return ERROR_INSUFFICIENT_BUFFER;
    }
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION created{};
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE, nullptr,
                        nullptr, &startup, &created)) {
        return GetLastError();
    }
    WinHandle thread(created.hThread);
    WinHandle process(created.hProcess);
    WaitForSingleObject(process.get(), INFINITE);
    DWORD exit_code = 0;
    if (!GetExitCodeProcess(process.get(), &exit_code)) exit_code = 0;
    return exit_code;
}

}  // namespace quietway
